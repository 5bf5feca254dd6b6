// Colour profiles through Little CMS: checking a picture's profile, and the transforms into a screen's.
#include "platform/metadata/colour_profiles.h"

#include <lcms2.h>

#include <algorithm>
#include <array>

namespace {

struct TProfileClose {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using TProfile = std::unique_ptr<void, TProfileClose>;

struct TTransformDelete {
    void operator()(void *transform) const { cmsDeleteTransform(transform); }
};
using THandle = std::unique_ptr<void, TTransformDelete>;

// Little CMS reads a profile from its own copy of the bytes.
TProfile Open(const QByteArray &bytes)
{
    if (bytes.isEmpty()) return TProfile(cmsCreate_sRGBProfile());
    if (bytes.size() > MaxProfileBytes) return nullptr;
    return TProfile(cmsOpenProfileFromMem(bytes.constData(), static_cast<cmsUInt32Number>(bytes.size())));
}

// A profile that describes a device or a colour space, of RGB or grey:
// what pixels can be in.
std::optional<TProfileSpace> SpaceOf(cmsHPROFILE profile)
{
    switch (cmsGetDeviceClass(profile)) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass: break;
    default: return std::nullopt;
    }
    switch (cmsGetColorSpace(profile)) {
    case cmsSigRgbData: return TProfileSpace::Rgb;
    case cmsSigGrayData: return TProfileSpace::Grey;
    default: return std::nullopt;
    }
}

constexpr cmsUInt32Number Intent = INTENT_PERCEPTUAL;

// QImage's RGB32 pixels are the bytes B, G, R and a fourth that stays.
constexpr cmsUInt32Number ShownPixels = TYPE_BGRA_8;

class TRgbTransform : public TColourTransform {
public:
    explicit TRgbTransform(THandle handle) : handle_(std::move(handle)) {}
    void Convert(std::uint32_t *pixels, std::size_t count) const override
    {
        // Little CMS converts in place when both forms have the same size.
        cmsDoTransform(handle_.get(), pixels, pixels, static_cast<cmsUInt32Number>(count));
    }

private:
    THandle handle_;
};

// A grey picture's colours through three tables: what each grey level
// shows as on the screen, a channel from each.
class TGreyTransform : public TColourTransform {
public:
    explicit TGreyTransform(cmsHTRANSFORM greyToScreen)
    {
        std::array<std::uint8_t, 256> greys;
        std::array<std::uint8_t, 3 * 256> shown;
        for (int level = 0; level < 256; ++level) greys[static_cast<std::size_t>(level)] = static_cast<std::uint8_t>(level);
        cmsDoTransform(greyToScreen, greys.data(), shown.data(), 256);
        for (std::size_t level = 0; level < 256; ++level) {
            red_[level] = std::uint32_t(shown[3 * level]) << 16;
            green_[level] = std::uint32_t(shown[3 * level + 1]) << 8;
            blue_[level] = shown[3 * level + 2];
        }
    }
    void Convert(std::uint32_t *pixels, std::size_t count) const override
    {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t p = pixels[i];
            pixels[i] = (p & 0xFF000000u) | red_[(p >> 16) & 0xFF] | green_[(p >> 8) & 0xFF] | blue_[p & 0xFF];
        }
    }

private:
    std::array<std::uint32_t, 256> red_, green_, blue_;
};

// The transform from a picture's profile into the screen's, or null
// where Little CMS refuses one of them.
std::unique_ptr<TColourTransform> MakeTransform(const QByteArray &picture, cmsHPROFILE screen)
{
    const TProfile from = Open(picture);
    const std::optional<TProfileSpace> space = from ? SpaceOf(from.get()) : std::nullopt;
    if (!space) return nullptr;
    if (*space == TProfileSpace::Grey) {
        const THandle handle(cmsCreateTransform(from.get(), TYPE_GRAY_8, screen, TYPE_RGB_8, Intent, 0));
        if (!handle) return nullptr;
        return std::make_unique<TGreyTransform>(handle.get());
    }
    // Converted in place, the fourth byte is neither read nor written.
    THandle handle(cmsCreateTransform(from.get(), ShownPixels, screen, ShownPixels, Intent, 0));
    if (!handle) return nullptr;
    return std::make_unique<TRgbTransform>(std::move(handle));
}

// Whether Little CMS can turn colours into this screen profile.
bool UsableForScreen(const QByteArray &screen)
{
    const TProfile to = Open(screen), from = Open({});
    if (!to || !from || cmsGetColorSpace(to.get()) != cmsSigRgbData) return false;
    return THandle(cmsCreateTransform(from.get(), TYPE_RGB_8, to.get(), TYPE_RGB_8, Intent, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE)) != nullptr;
}

constexpr std::size_t KeptTransforms = 4;

} // namespace

std::optional<TProfileSpace> PictureProfileSpace(const QByteArray &profile)
{
    if (profile.isEmpty()) return std::nullopt;
    const TProfile from = Open(profile);
    if (!from) return std::nullopt;
    const std::optional<TProfileSpace> space = SpaceOf(from.get());
    if (!space) return std::nullopt;
    // The tables a transform from it reads must be there.
    const bool tables = cmsIsIntentSupported(from.get(), Intent, LCMS_USED_AS_INPUT) ||
                        cmsIsIntentSupported(from.get(), INTENT_RELATIVE_COLORIMETRIC, LCMS_USED_AS_INPUT);
    if (!tables) return std::nullopt;
    if (profile.size() > FullyCheckedProfileBytes) return space;
    // Made without the optimisation a repaint's transform gets: this reads
    // and checks every table the profile's colours go through, and no more.
    const TProfile to = Open({});
    const cmsUInt32Number pixels = *space == TProfileSpace::Rgb ? TYPE_RGB_8 : TYPE_GRAY_8;
    const THandle check(cmsCreateTransform(from.get(), pixels, to.get(), TYPE_RGB_8, Intent, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE));
    if (!check) return std::nullopt;
    return space;
}

TPalette TColourTransform::Converted(const TPalette &palette) const
{
    std::array<std::uint32_t, 256> shown;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<std::uint32_t>(palette[i]);
        shown[i] = 0xFF000000u | (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    }
    Convert(shown.data(), shown.size());
    TPalette converted;
    for (std::size_t i = 0; i < shown.size(); ++i)
        converted[i] = RGB(static_cast<int>(shown[i] >> 16 & 0xFF), static_cast<int>(shown[i] >> 8 & 0xFF), static_cast<int>(shown[i] & 0xFF));
    return converted;
}

TScreenColours::TScreenColours(const QByteArray &screenProfile)
    : screen_(!screenProfile.isEmpty() && UsableForScreen(screenProfile) ? screenProfile : QByteArray())
{
}

TScreenColours::~TScreenColours() = default;

const TColourTransform *TScreenColours::For(const QByteArray &pictureProfile)
{
    if (pictureProfile.isEmpty() && screen_.isEmpty()) return nullptr;
    // The same bytes are shared with the picture from one repaint to the
    // next: the kept copy holds them, so the same address is the same
    // profile, and only a picture new to the view is compared in full.
    auto kept = std::find_if(kept_.begin(), kept_.end(), [&](const TKept &k) {
        return k.profile.constData() == pictureProfile.constData() && k.profile.size() == pictureProfile.size();
    });
    if (kept == kept_.end()) {
        kept = std::find_if(kept_.begin(), kept_.end(), [&](const TKept &k) { return k.profile == pictureProfile; });
        if (kept != kept_.end()) kept->profile = pictureProfile;
    }
    if (kept == kept_.end()) {
        const TProfile screen = Open(screen_);
        kept_.insert(kept_.begin(), TKept{pictureProfile, MakeTransform(pictureProfile, screen.get())});
        if (kept_.size() > KeptTransforms) kept_.pop_back();
        return kept_.front().transform.get();
    }
    return kept->transform.get();
}

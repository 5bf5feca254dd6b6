// Colour profiles through Little CMS: checking a picture's profile, and the transforms into a screen's.
#include "platform/metadata/colour_profiles.h"

#include "platform/metadata/lcms_owned.h"

#include <lcms2_plugin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// Little CMS reads a profile from its own copy of the bytes.
TLcmsProfile Open(const QByteArray &bytes)
{
    if (bytes.isEmpty()) return TLcmsProfile(cmsCreate_sRGBProfile());
    if (bytes.size() > MaxProfileBytes) return nullptr;
    return TLcmsProfile(cmsOpenProfileFromMem(bytes.constData(), static_cast<cmsUInt32Number>(bytes.size())));
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
    explicit TRgbTransform(TLcmsTransform handle) : handle_(std::move(handle)) {}
    void Convert(std::uint32_t *pixels, std::size_t count) const override
    {
        // Little CMS converts in place when both forms have the same size.
        cmsDoTransform(handle_.get(), pixels, pixels, static_cast<cmsUInt32Number>(count));
    }

private:
    TLcmsTransform handle_;
};

// Colours through a table for each channel: what each level of red,
// green and blue shows as on the screen (`shown` holds them by level, red
// first). A grey picture's pixels have equal channels, so this turns them
// too; a pair of profiles with the same primaries turns each channel
// alone.
class TChannelTablesTransform : public TColourTransform {
public:
    explicit TChannelTablesTransform(const std::array<std::uint8_t, 3 * 256> &shown)
    {
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

// A grey level's colour on the screen, for every level.
std::unique_ptr<TColourTransform> GreyTransform(cmsHTRANSFORM greyToScreen)
{
    std::array<std::uint8_t, 256> greys;
    std::array<std::uint8_t, 3 * 256> shown;
    for (int level = 0; level < 256; ++level) greys[static_cast<std::size_t>(level)] = static_cast<std::uint8_t>(level);
    cmsDoTransform(greyToScreen, greys.data(), shown.data(), 256);
    return std::make_unique<TChannelTablesTransform>(shown);
}

// A curve's value as a level within 0..1 (a damaged curve's NaN as 0).
double Level(float value) { return std::isfinite(value) ? std::clamp(double(value), 0.0, 1.0) : 0.0; }

// The fixed point of Little CMS's 8-bit matrix arithmetic: 1.14.
constexpr int FixedBits = 14;

// A screen's curve turned round: from its linear level to the level its
// pixels hold. Null where Little CMS cannot reverse it.
TLcmsCurve Reversed(const cmsToneCurve *curve) { return TLcmsCurve(cmsReverseToneCurve(curve)); }

// Between two profiles made of a matrix and curves (what nearly every RGB
// picture and screen has), Little CMS's transform of 8-bit pixels does
// the arithmetic below, in the same 1.14 fixed point, but through its
// general loop of a call to unpack, work out and pack each pixel: about
// four times the time, most of a repaint's budget. So the curves and
// colorants are read by Little CMS, and the pixels worked out here. Its
// tests compare it with Little CMS's own transform.
class TMatrixShaperTransform : public TColourTransform {
public:
    static std::unique_ptr<TColourTransform> Make(cmsHPROFILE from, cmsHPROFILE to);
    TMatrixShaperTransform() = default;
    TMatrixShaperTransform(const TMatrixShaperTransform &) = delete; // encode_ points into it
    TMatrixShaperTransform &operator=(const TMatrixShaperTransform &) = delete;
    void Convert(std::uint32_t *pixels, std::size_t count) const override
    {
        if (sumsFit32_)
            ConvertIn<std::int32_t>(pixels, count);
        else
            ConvertIn<std::int64_t>(pixels, count);
    }

private:
    // Sum: int32 where every row's sum stays within it (any real pair of
    // profiles), which halves the multiplications' cost; else int64 (a
    // wide gamut's coefficients times a full level add up past 32 bits).
    // The same exact integers either way.
    template <typename Sum>
    void ConvertIn(std::uint32_t *pixels, std::size_t count) const
    {
        const std::uint8_t *encodeR = encode_[0], *encodeG = encode_[1], *encodeB = encode_[2];
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t p = pixels[i];
            const Sum r = linear_[0][p >> 16 & 0xFF], g = linear_[1][p >> 8 & 0xFF], b = linear_[2][p & 0xFF];
            const auto shown = [&](int row, const std::uint8_t *encode) {
                const Sum v = (Sum(matrix_[3 * row]) * r + Sum(matrix_[3 * row + 1]) * g + Sum(matrix_[3 * row + 2]) * b + Half) >> Bits;
                return std::uint32_t(encode[std::size_t(std::clamp<Sum>(v, 0, One))]);
            };
            pixels[i] = (p & 0xFF000000u) | shown(0, encodeR) << 16 | shown(1, encodeG) << 8 | shown(2, encodeB);
        }
    }

    static constexpr int Bits = FixedBits, One = 1 << Bits, Half = One / 2;
    // Larger coefficients (no real pair of profiles has any above a few)
    // are left to Little CMS: in 1.14 they would not fit 32 bits.
    static constexpr double MaxCoefficient = 1 << 16;
    std::array<std::array<std::int32_t, 256>, 3> linear_;  // each channel's level, linear, 1.14
    std::array<std::int32_t, 9> matrix_;                   // linear RGB into the screen's, 1.14, by rows
    std::array<std::array<std::uint8_t, One + 1>, 3> encoded_; // the screen's linear level, encoded
    // Each channel's table in encoded_, one for channels whose tables are
    // equal (a screen's curves mostly are): 16 KiB rather than 48 that the
    // view's pixels share the first-level cache with.
    std::array<const std::uint8_t *, 3> encode_{};
    bool sumsFit32_ = false;
};

// Whether a transform from (or into) the profile goes through its matrix
// and curves alone: it has them, and no table for any intent.
bool MatrixAndCurvesOnly(cmsHPROFILE profile, bool input)
{
    if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile)) return false;
    for (const cmsUInt32Number intent : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC, INTENT_SATURATION})
        if (cmsIsCLUT(profile, intent, input ? LCMS_USED_AS_INPUT : LCMS_USED_AS_OUTPUT)) return false;
    return true;
}

// The colorants (columns: red, green, blue) and curves, or false.
bool ReadMatrixAndCurves(cmsHPROFILE profile, cmsMAT3 &colorants, std::array<const cmsToneCurve *, 3> &curves)
{
    const cmsTagSignature columns[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature tones[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int c = 0; c < 3; ++c) {
        const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, columns[c]));
        curves[std::size_t(c)] = static_cast<const cmsToneCurve *>(cmsReadTag(profile, tones[c]));
        if (!xyz || !curves[std::size_t(c)]) return false;
        colorants.v[0].n[c] = xyz->X, colorants.v[1].n[c] = xyz->Y, colorants.v[2].n[c] = xyz->Z;
    }
    return true;
}

// Between profiles of the same primaries the matrix only scales each
// channel, and each channel's colour depends on its own level alone: a
// table a channel, worked out in floating point. In 1.14 the darkest
// levels of a steep curve (a gamma of 2.2 or more) would round to a
// linear 0 and come back a few levels off; Little CMS joins the curves
// in this case too.
std::unique_ptr<TColourTransform> ChannelByChannel(const cmsMAT3 &combined, const std::array<const cmsToneCurve *, 3> &fromCurves,
                                                   const std::array<const cmsToneCurve *, 3> &toCurves)
{
    // Off the diagonal, coefficients too small for 1.14 to hold.
    constexpr double Negligible = 0.5 / (1 << FixedBits);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            if (row != column && !(std::abs(combined.v[row].n[column]) < Negligible)) return nullptr;
    std::array<std::uint8_t, 3 * 256> shown;
    for (std::size_t c = 0; c < 3; ++c) {
        const double scale = combined.v[c].n[c];
        if (!std::isfinite(scale)) return nullptr;
        const TLcmsCurve encode = Reversed(toCurves[c]);
        if (!encode) return nullptr;
        for (int level = 0; level < 256; ++level) {
            const double linear = std::clamp(scale * Level(cmsEvalToneCurveFloat(fromCurves[c], float(level) / 255)), 0.0, 1.0);
            const double encoded = Level(cmsEvalToneCurveFloat(encode.get(), float(linear)));
            shown[3 * std::size_t(level) + c] = static_cast<std::uint8_t>(std::lround(encoded * 255));
        }
    }
    return std::make_unique<TChannelTablesTransform>(shown);
}

std::unique_ptr<TColourTransform> TMatrixShaperTransform::Make(cmsHPROFILE from, cmsHPROFILE to)
{
    if (!MatrixAndCurvesOnly(from, true) || !MatrixAndCurvesOnly(to, false)) return nullptr;
    cmsMAT3 toPcs, fromScreen, toScreen, combined;
    std::array<const cmsToneCurve *, 3> fromCurves, toCurves;
    if (!ReadMatrixAndCurves(from, toPcs, fromCurves) || !ReadMatrixAndCurves(to, toScreen, toCurves)) return nullptr;
    if (!_cmsMAT3inverse(&toScreen, &fromScreen)) return nullptr;
    _cmsMAT3per(&combined, &fromScreen, &toPcs);
    if (std::unique_ptr<TColourTransform> tables = ChannelByChannel(combined, fromCurves, toCurves)) return tables;
    auto transform = std::make_unique<TMatrixShaperTransform>();
    for (std::size_t row = 0; row < 3; ++row)
        for (std::size_t column = 0; column < 3; ++column) {
            const double coefficient = combined.v[row].n[column];
            if (!std::isfinite(coefficient) || std::abs(coefficient) > MaxCoefficient) return nullptr;
            transform->matrix_[3 * row + column] = static_cast<std::int32_t>(std::lround(coefficient * One));
        }
    for (std::size_t c = 0; c < 3; ++c) {
        for (int level = 0; level < 256; ++level) {
            const double v = Level(cmsEvalToneCurveFloat(fromCurves[c], float(level) / 255));
            transform->linear_[c][std::size_t(level)] = static_cast<std::int32_t>(std::lround(v * One));
        }
        const TLcmsCurve encode = Reversed(toCurves[c]);
        if (!encode) return nullptr;
        for (int v = 0; v <= One; ++v) {
            const double level = Level(cmsEvalToneCurveFloat(encode.get(), float(v) / One));
            transform->encoded_[c][std::size_t(v)] = static_cast<std::uint8_t>(std::lround(level * 255));
        }
        transform->encode_[c] = transform->encoded_[c].data();
        for (std::size_t earlier = 0; earlier < c; ++earlier)
            if (transform->encoded_[earlier] == transform->encoded_[c]) {
                transform->encode_[c] = transform->encoded_[earlier].data();
                break;
            }
    }
    // The largest a row's sum reaches: each coefficient times a full level, and the rounding.
    std::int64_t largest = 0;
    for (std::size_t row = 0; row < 3; ++row) {
        std::int64_t sum = Half;
        for (std::size_t column = 0; column < 3; ++column) sum += std::int64_t(std::abs(transform->matrix_[3 * row + column])) * One;
        largest = std::max(largest, sum);
    }
    transform->sumsFit32_ = largest <= std::numeric_limits<std::int32_t>::max();
    return transform;
}

// Little CMS's own transform of shown pixels, or null where it refuses one.
std::unique_ptr<TColourTransform> LittleCmsTransform(cmsHPROFILE from, cmsHPROFILE screen)
{
    const std::optional<TProfileSpace> space = SpaceOf(from);
    if (!space) return nullptr;
    if (*space == TProfileSpace::Grey) {
        const TLcmsTransform handle(cmsCreateTransform(from, TYPE_GRAY_8, screen, TYPE_RGB_8, Intent, 0));
        if (!handle) return nullptr;
        return GreyTransform(handle.get());
    }
    // Converted in place, the fourth byte is neither read nor written.
    // Without the cache of the last pixel, which every call would share,
    // the view's rows are turned on several threads at once.
    TLcmsTransform handle(cmsCreateTransform(from, ShownPixels, screen, ShownPixels, Intent, cmsFLAGS_NOCACHE));
    if (!handle) return nullptr;
    return std::make_unique<TRgbTransform>(std::move(handle));
}

// The transform from a picture's profile into the screen's, or null
// where Little CMS refuses one of them.
std::unique_ptr<TColourTransform> MakeTransform(const QByteArray &picture, cmsHPROFILE screen)
{
    const TLcmsProfile from = Open(picture);
    if (!from) return nullptr;
    if (std::unique_ptr<TColourTransform> faster = TMatrixShaperTransform::Make(from.get(), screen)) return faster;
    return LittleCmsTransform(from.get(), screen);
}

// Whether Little CMS can turn colours into this screen profile.
bool UsableForScreen(const QByteArray &screen)
{
    const TLcmsProfile to = Open(screen), from = Open({});
    if (!to || !from || cmsGetColorSpace(to.get()) != cmsSigRgbData) return false;
    return TLcmsTransform(cmsCreateTransform(from.get(), TYPE_RGB_8, to.get(), TYPE_RGB_8, Intent, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE)) != nullptr;
}

constexpr std::size_t KeptTransforms = 4;

} // namespace

std::unique_ptr<TColourTransform> colour_transform::MadeBy(TWay way, const QByteArray &picture, const QByteArray &screen)
{
    const TLcmsProfile from = Open(picture), to = Open(screen);
    if (!from || !to) return nullptr;
    if (way == TWay::LittleCms) return LittleCmsTransform(from.get(), to.get());
    return TMatrixShaperTransform::Make(from.get(), to.get());
}

std::optional<TProfileSpace> PictureProfileSpace(const QByteArray &profile)
{
    if (profile.isEmpty()) return std::nullopt;
    const TLcmsProfile from = Open(profile);
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
    const TLcmsProfile to = Open({});
    const cmsUInt32Number pixels = *space == TProfileSpace::Rgb ? TYPE_RGB_8 : TYPE_GRAY_8;
    const TLcmsTransform check(cmsCreateTransform(from.get(), pixels, to.get(), TYPE_RGB_8, Intent, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE));
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
        const TLcmsProfile screen = Open(screen_);
        kept_.insert(kept_.begin(), TKept{pictureProfile, MakeTransform(pictureProfile, screen.get())});
        if (kept_.size() > KeptTransforms) kept_.pop_back();
        return kept_.front().transform.get();
    }
    return kept->transform.get();
}

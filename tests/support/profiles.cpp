// Colour profiles made for the tests by Little CMS.
#include "support/profiles.h"

#include <lcms2.h>

#include <memory>

namespace {

struct TClose {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using TProfile = std::unique_ptr<void, TClose>;

struct TFreeCurve {
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};

QByteArray Saved(const TProfile &profile)
{
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size)) return {};
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
    return bytes;
}

// sRGB's tone curve: IEC 61966-2-1's parameters.
std::unique_ptr<cmsToneCurve, TFreeCurve> SrgbCurve()
{
    const cmsFloat64Number parameters[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return std::unique_ptr<cmsToneCurve, TFreeCurve>(cmsBuildParametricToneCurve(nullptr, 4, parameters));
}

constexpr cmsCIExyY D65 = {0.3127, 0.3290, 1.0};
constexpr cmsCIExyY SrgbRed = {0.64, 0.33, 1.0}, SrgbGreen = {0.30, 0.60, 1.0}, SrgbBlue = {0.15, 0.06, 1.0};

QByteArray RgbProfile(const cmsCIExyYTRIPLE &primaries)
{
    const auto curve = SrgbCurve();
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    return Saved(TProfile(cmsCreateRGBProfile(&D65, &primaries, curves)));
}

} // namespace

QByteArray SwappedRedGreenProfile() { return RgbProfile({SrgbGreen, SrgbRed, SrgbBlue}); }

QByteArray WideGamutProfile() { return RgbProfile({{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}}); }

QByteArray LinearGreyProfile()
{
    const std::unique_ptr<cmsToneCurve, TFreeCurve> linear(cmsBuildGamma(nullptr, 1.0));
    return Saved(TProfile(cmsCreateGrayProfile(cmsD50_xyY(), linear.get())));
}

QByteArray LabProfile() { return Saved(TProfile(cmsCreateLab4Profile(nullptr))); }

QByteArray GarbageProfile()
{
    QByteArray bytes(300, '\x5A');
    // A size that matches, and the signature, so that only what follows is wrong.
    bytes[0] = 0, bytes[1] = 0, bytes[2] = 0x01, bytes[3] = 0x2C;
    bytes.replace(36, 4, "acsp");
    return bytes;
}

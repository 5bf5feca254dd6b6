// Colour profiles made by Little CMS from chromaticities and power-law tone curves.
#include "platform/metadata/described_profiles.h"

#include <lcms2.h>

#include <cmath>
#include <memory>

namespace {

struct TProfileClose {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
struct TCurveFree {
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};
using TCurve = std::unique_ptr<cmsToneCurve, TCurveFree>;

bool OnDiagram(TChromaticity c) { return std::isfinite(c.x) && std::isfinite(c.y) && c.x > 0 && c.y > 0 && c.x + c.y < 1; }
bool UsableGamma(double gamma) { return std::isfinite(gamma) && gamma >= 0.1 && gamma <= 10; }

cmsCIExyY Xyy(TChromaticity c) { return {c.x, c.y, 1.0}; }

QByteArray Saved(cmsHPROFILE made)
{
    const std::unique_ptr<void, TProfileClose> profile(made);
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size)) return {};
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
    return bytes;
}

} // namespace

QByteArray DescribedRgbProfile(const TChromaticities &space, const std::array<double, 3> &gammas)
{
    for (const TChromaticity c : {space.white, space.red, space.green, space.blue})
        if (!OnDiagram(c)) return {};
    TCurve curves[3];
    for (std::size_t c = 0; c < 3; ++c) {
        if (!UsableGamma(gammas[c])) return {};
        curves[c].reset(cmsBuildGamma(nullptr, gammas[c]));
        if (!curves[c]) return {};
    }
    const cmsCIExyY white = Xyy(space.white);
    const cmsCIExyYTRIPLE primaries = {Xyy(space.red), Xyy(space.green), Xyy(space.blue)};
    cmsToneCurve *transfer[3] = {curves[0].get(), curves[1].get(), curves[2].get()};
    // Little CMS refuses primaries that span no space (their matrix has no inverse).
    return Saved(cmsCreateRGBProfile(&white, &primaries, transfer));
}

QByteArray DescribedGreyProfile(TChromaticity white, double gamma)
{
    if (!OnDiagram(white) || !UsableGamma(gamma)) return {};
    const TCurve curve(cmsBuildGamma(nullptr, gamma));
    if (!curve) return {};
    const cmsCIExyY whitePoint = Xyy(white);
    return Saved(cmsCreateGrayProfile(&whitePoint, curve.get()));
}

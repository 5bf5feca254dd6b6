// Colour profiles made by Little CMS from chromaticities and power-law tone curves.
#include "platform/metadata/described_profiles.h"

#include "platform/metadata/lcms_owned.h"

#include <cmath>

namespace {

bool OnDiagram(TChromaticity c) { return std::isfinite(c.x) && std::isfinite(c.y) && c.x > 0 && c.y > 0 && c.x + c.y < 1; }
bool UsableGamma(double gamma) { return std::isfinite(gamma) && gamma >= 0.1 && gamma <= 10; }

cmsCIExyY Xyy(TChromaticity c) { return {c.x, c.y, 1.0}; }

} // namespace

QByteArray DescribedRgbProfile(const TChromaticities &space, const std::array<double, 3> &gammas)
{
    for (const TChromaticity c : {space.white, space.red, space.green, space.blue})
        if (!OnDiagram(c)) return {};
    TLcmsCurve curves[3];
    for (std::size_t c = 0; c < 3; ++c) {
        if (!UsableGamma(gammas[c])) return {};
        curves[c].reset(cmsBuildGamma(nullptr, gammas[c]));
        if (!curves[c]) return {};
    }
    const cmsCIExyY white = Xyy(space.white);
    const cmsCIExyYTRIPLE primaries = {Xyy(space.red), Xyy(space.green), Xyy(space.blue)};
    cmsToneCurve *transfer[3] = {curves[0].get(), curves[1].get(), curves[2].get()};
    // Little CMS refuses primaries that span no space (their matrix has no inverse).
    return SavedProfile(TLcmsProfile(cmsCreateRGBProfile(&white, &primaries, transfer)));
}

QByteArray DescribedGreyProfile(TChromaticity white, double gamma)
{
    if (!OnDiagram(white) || !UsableGamma(gamma)) return {};
    const TLcmsCurve curve(cmsBuildGamma(nullptr, gamma));
    if (!curve) return {};
    const cmsCIExyY whitePoint = Xyy(white);
    return SavedProfile(TLcmsProfile(cmsCreateGrayProfile(&whitePoint, curve.get())));
}

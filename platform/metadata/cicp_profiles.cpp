// ICC profiles made from H.273 code points.
#include "platform/metadata/cicp_profiles.h"

#include "platform/metadata/lcms_owned.h"

#include <array>
#include <optional>

namespace {

struct TPrimaries {
    int code;
    cmsCIExyY red, green, blue, white;
};
constexpr cmsCIExyY D65{0.3127, 0.3290, 1}, IlluminantC{0.310, 0.316, 1};
// Red, green, blue and white of each set of primaries H.273 defines.
constexpr TPrimaries KnownPrimaries[] = {
    {1, {0.640, 0.330, 1}, {0.300, 0.600, 1}, {0.150, 0.060, 1}, D65},  // BT.709, sRGB
    {2, {0.640, 0.330, 1}, {0.300, 0.600, 1}, {0.150, 0.060, 1}, D65},  // unstated: taken as BT.709
    {4, {0.670, 0.330, 1}, {0.210, 0.710, 1}, {0.140, 0.080, 1}, IlluminantC},
    {5, {0.640, 0.330, 1}, {0.290, 0.600, 1}, {0.150, 0.060, 1}, D65},
    {6, {0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}, D65},
    {7, {0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}, D65},
    {8, {0.681, 0.319, 1}, {0.243, 0.692, 1}, {0.145, 0.049, 1}, IlluminantC},
    {9, {0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}, D65},  // BT.2020
    {11, {0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}, {0.314, 0.351, 1}}, // DCI-P3
    {12, {0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}, D65}, // Display P3
    {22, {0.630, 0.340, 1}, {0.295, 0.605, 1}, {0.155, 0.077, 1}, D65},
};

// Little CMS's parametric curves: type 1 is Y = X^g; type 4 is
// Y = (aX + b)^g from X = d up, Y = cX below.
struct TCurve {
    int type;
    std::array<double, 5> parameters;
};

// The decoding curve of each transfer H.273 defines that a profile can hold.
std::optional<TCurve> CurveFor(int transfer)
{
    switch (transfer) {
    case 1:
    case 6:
    case 14:
    case 15: return TCurve{4, {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081}};          // BT.709's
    case 2:
    case 13: return TCurve{4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}};           // sRGB's
    case 4: return TCurve{1, {2.2}};
    case 5: return TCurve{1, {2.8}};
    case 7: return TCurve{4, {1 / 0.45, 1 / 1.1115, 0.1115 / 1.1115, 1 / 4.0, 0.0913}};       // SMPTE 240M
    case 8: return TCurve{1, {1.0}};
    default: return std::nullopt;
    }
}

} // namespace

QByteArray ProfileForCodePoints(int primaries, int transfer)
{
    const bool srgbPrimaries = primaries == 1 || primaries == 2, srgbCurve = transfer == 13 || transfer == 2;
    if (srgbPrimaries && srgbCurve) return {};
    const TPrimaries *known = nullptr;
    for (const TPrimaries &p : KnownPrimaries)
        if (p.code == primaries) known = &p;
    const std::optional<TCurve> curve = CurveFor(transfer);
    if (!known || !curve) return {};

    const TLcmsCurve tone(cmsBuildParametricToneCurve(nullptr, curve->type, curve->parameters.data()));
    if (!tone) return {};
    cmsToneCurve *curves[3] = {tone.get(), tone.get(), tone.get()};
    const cmsCIExyYTRIPLE colorants{known->red, known->green, known->blue};
    return SavedProfile(TLcmsProfile(cmsCreateRGBProfile(&known->white, &colorants, curves)));
}

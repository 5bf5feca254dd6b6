// Colour profiles made by Little CMS for files that describe their colours
// by chromaticities and tone curves instead of carrying a profile: PNG's
// cHRM and gAMA chunks, a BMP header's calibrated colour space.
#pragma once

#include <QByteArray>

#include <array>

// A chromaticity, x and y of CIE 1931.
struct TChromaticity {
    double x = 0;
    double y = 0;
};

// The white and the three primaries of an RGB space.
struct TChromaticities {
    TChromaticity white, red, green, blue;
};

// sRGB's white and primaries (ITU-R BT.709, D65).
inline constexpr TChromaticities SrgbChromaticities = {{0.3127, 0.3290}, {0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};

// An RGB profile of those chromaticities, whose channels decode by the
// power laws given (linear = stored ^ gamma, one for red, green and blue).
// Empty where they describe no space: a chromaticity off the diagram
// (x, y not above 0, x + y not below 1), primaries on one line, or a gamma
// outside 0.1 .. 10.
QByteArray DescribedRgbProfile(const TChromaticities &space, const std::array<double, 3> &gammas);

// A grey profile of that white and decoding power law; empty as above.
QByteArray DescribedGreyProfile(TChromaticity white, double gamma);

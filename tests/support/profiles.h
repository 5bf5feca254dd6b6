// Colour profiles made for the tests by Little CMS, and the colours they mean.
#pragma once

#include <QByteArray>

// RGB with sRGB's white and tone curve whose red primary is sRGB's green
// and whose green is sRGB's red: stored (255, 0, 0) means sRGB's green.
QByteArray SwappedRedGreenProfile();

// RGB whose primaries are wider than sRGB's (those of ITU-R BT.2020),
// with sRGB's white and tone curve: stored colours mean more saturated
// ones than sRGB's of the same numbers.
QByteArray WideGamutProfile();

// sRGB's primaries with a tone curve of its own for each channel (gamma
// 1.0, 1.8 and 2.2): no channel's levels mean what another's do.
QByteArray UnevenCurvesProfile();

// sRGB's primaries with a pure power curve of the given gamma on every
// channel: no straight part near black, so the darkest levels are very
// dark in linear light.
QByteArray PowerCurveProfile(double gamma);

// sRGB with its red colorant sixty times too bright: colours are turned
// from it by a matrix of large coefficients.
QByteArray OverbrightRedProfile();

// Grey with a tone curve of gamma 1.0: stored level 128 means a lighter
// grey than sRGB's 128.
QByteArray LinearGreyProfile();

// sRGB's colours through a table instead of a matrix and curves: RGB to
// Lab on a grid of `points` a side, which takes 6 * points^3 bytes (33
// points give 211 KiB, 65 points 1.6 MiB).
QByteArray TableProfile(int points);

// sRGB's matrix and curves, and a perceptual table beside them that
// swaps red and green: a transform that reads the table shows stored
// (255, 0, 0) as sRGB's green, one that reads the matrix as red.
QByteArray SrgbWithSwappingTable();

// CIE Lab (an abstract profile): no picture's pixels are in it.
QByteArray LabProfile();

// A device link from RGB to RGB: it describes no picture's colours.
QByteArray DeviceLinkProfile();
// The same through a table of 33 points a side: above 64 KiB.
QByteArray LargeDeviceLinkProfile();

// SwappedRedGreenProfile with its red curve's data damaged: its directory
// is whole, but no transform can be made from it.
QByteArray DamagedCurveProfile();

// Bytes with an ICC header's signature ("acsp" at 36) that no colour
// library takes as a profile.
QByteArray GarbageProfile();

// The red colorant (rXYZ, adapted to D50 as ICC profiles hold it) of an RGB
// profile, or all zero when it has none.
struct TColorant {
    double x = 0, y = 0, z = 0;
};
TColorant RedColorant(const QByteArray &profile);

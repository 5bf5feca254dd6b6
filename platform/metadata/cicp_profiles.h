// Colour profiles for pictures whose files describe their colours by code
// points (ITU-T H.273, the nclx description HEIF and AVIF carry) instead of
// an ICC profile: the same description as a profile the carrier can keep.
#pragma once

#include <QByteArray>

// An RGB profile of the primaries, white and transfer curve the code points
// name, made by Little CMS. Empty where the picture is sRGB (its primaries
// BT.709 or unstated, its curve sRGB's or unstated), which the carrier means
// by no profile, and where a profile cannot say what they describe: a
// high-dynamic-range curve (PQ, HLG), or code points H.273 does not define.
QByteArray ProfileForCodePoints(int primaries, int transfer);

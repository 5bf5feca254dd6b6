// JPEG XL pictures through libjxl, decoded straight into the bitmap's rows.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// Whether the bytes start as a JPEG XL codestream (FF 0A) or container does.
bool LooksLikeJxl(std::span<const std::uint8_t> bytes);

// Decodes a JPEG XL picture (of an animation, its first frame) upright, as
// its orientation says (libjxl turns it; the EXIF orientation is not applied
// again): into pf8bit with the grey palette for grey, pf32bit with alpha
// where it has alpha, else pf24bit. Samples deeper than 8 bits, or
// floating-point, are rounded to 8 bits. libjxl writes the samples
// straight into the bitmap's rows, but for grey with alpha, which it
// gives a piece of row at a time, from several threads. The colour profile
// (none for sRGB), EXIF and XMP go into the picture's metadata. The file is
// given to the decoder a piece at a time, with progress and a cancel
// honoured between pieces. Data that ends early gives the rows the decoder
// finished from the top (opening_limits.h): libjxl 0.7 gives a frame's
// rows once the whole frame is there, so a frame cut short shows none. The size is checked against
// the opening memory before anything is decoded; libjxl's own limits stay.
// A TPictureReader (picture_codecs.h).
TRowsMissing DecodeJxl(std::span<const std::uint8_t> bytes, TBitmap &into);

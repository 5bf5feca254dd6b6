// TGA (Truevision) pictures, read here: Qt's plugin reads only uncompressed
// files that end with a version 2 footer, while most writers compress them
// and leave the footer out.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// TGA has no signature: whether the 18-byte header is one a TGA picture
// has (a known image type with a pixel depth it takes, a colour map only
// where the type uses one, a size of at least 1 x 1).
bool LooksLikeTga(std::span<const std::uint8_t> bytes);

// Decodes a TGA picture, plain or run-length coded, into pf8bit with its
// colour map (colour-mapped), with the grey palette (grey), pf24bit (15-,
// 16- and 24-bit colour, and 32-bit without alpha bits) or pf32bit with
// alpha (32-bit with 8 alpha bits), turned upright as its origin says
// (rows from the bottom, the usual, or from the top; columns from the
// right). 5-bit channels are widened as the bitmap rounds them. Data that
// ends early gives the rows it holds (opening_limits.h); a run past the
// picture's last pixel is refused as damaged. A TPictureReader
// (picture_codecs.h).
TRowsMissing DecodeTga(std::span<const std::uint8_t> bytes, TBitmap &into);

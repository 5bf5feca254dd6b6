// TIFF pictures of 8-bit grey or RGB samples in strips read through libtiff
// straight into the bitmap's rows, so that opening one takes the file and the
// picture alone; every other TIFF goes to Qt's reader.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// Whether the bytes start as a TIFF does ("II*\0" or "MM\0*").
bool LooksLikeTiff(std::span<const std::uint8_t> bytes);

// Decodes a TIFF's first picture into pf8bit with the grey palette (8-bit
// grey, 0 black) or pf24bit (8-bit RGB), row by row, when it is stored in
// strips, its samples interleaved, upright and without extra samples;
// anything else through Qt's reader. The pixels are Qt's reading's. A row
// the decoder cannot give (its strip's data ends early or is damaged, or
// lies past the byte count of an uncompressed strip) is missing with the
// rest of its strip (opening_limits.h); a TIFF left to Qt whose
// uncompressed data is shorter than its strips or tiles take is refused as
// damaged, as Qt would read on past it.
TRowsMissing DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into);

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
// grey, 0 black) or pf24bit (8-bit RGB), strip by strip, when it is stored
// in strips, its samples interleaved, upright and without extra samples;
// anything else through Qt's reader. The pixels are Qt's reading's. A strip
// that cannot be read refuses the file as damaged.
void DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into);

// Binary PGM and PPM pictures of 8-bit samples read straight into the
// bitmap's rows, so that opening one takes the file and the picture alone;
// every other PBM/PGM/PPM goes to Qt's reader.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// Whether the bytes start as a binary PGM ("P5") or PPM ("P6") does.
bool LooksLikeBinaryPnm(std::span<const std::uint8_t> bytes);

// Decodes a binary PGM into pf8bit with the grey palette, or a binary PPM
// into pf24bit, when its samples take 8 bits (a maximum value of 255) and
// it is at most 32767 pixels a side; anything else through Qt's reader. The
// pixels are Qt's reading's. Data that ends early is refused as damaged.
void DecodePnm(std::span<const std::uint8_t> bytes, TBitmap &into);

// Still WebP pictures without alpha decoded through libwebp straight into the
// bitmap's rows, so that opening one takes the file and the picture alone;
// every other WebP goes to Qt's reader.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstdint>
#include <span>

// Whether the bytes start as a WebP file does ("RIFF", a size, "WEBP").
bool LooksLikeWebp(std::span<const std::uint8_t> bytes);

// Decodes a still WebP without alpha into pf24bit, a piece of the file at a
// time (so that it reports progress and can be cancelled); an animated one,
// or one with alpha, through Qt's reader. The pixels are Qt's reading's.
// Data that ends early gives the rows the decoder gave (opening_limits.h);
// damaged data is refused as damaged.
TRowsMissing DecodeWebp(std::span<const std::uint8_t> bytes, TBitmap &into);

// Comparisons of bitmaps, shared by the tests and the fuzz targets.
#pragma once

#include "platform/pictures/bitmap.h"

// Every pixel's bytes (padding and the spare bits of a last byte excluded),
// size, format and the palette entries the format uses are equal.
bool SameBitmap(const TBitmap &a, const TBitmap &b);

// Every pixel's colour is equal (formats may differ).
bool SameColours(const TBitmap &a, const TBitmap &b);

// Every pixel has the same alpha: its 4th byte in pf32bit whose alpha is
// used, else 255 (the 4th byte of an unused alpha channel means nothing).
bool SameAlpha(const TBitmap &a, const TBitmap &b);

// The bits of pixel (x, y) as the row stores them, for every pixel format.
std::uint32_t PixelBits(const TBitmap &bitmap, int x, int y);

// Whether `cut`, read from a file that ends early, holds the first rows of
// `whole` and nothing else, as `missing` counts them (opening_limits.h):
// same size and format, its first rows - missing rows the whole picture's,
// each row after them zero bytes, but for a start equal to the whole
// picture's (the whole pixels of a last row cut in two).
bool HoldsTheFirstRowsOf(const TBitmap &cut, const TBitmap &whole, TRowsMissing missing);

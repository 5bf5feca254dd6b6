// Test pictures made in the tests, and comparisons of bitmaps.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// A bitmap of the given size and format whose palette, for palette
// formats, is the grey ramp (index i is grey i, or spread over 2 or 16).
std::unique_ptr<TBitmap> MakeBitmap(int width, int height, TPixelFormat format);

// Fills every pixel byte (not padding) from a seeded generator.
void FillRandomBytes(TBitmap &bitmap, std::uint32_t seed);

// Fills pixel (x, y) with colour(x, y) through SetPixel.
void FillColours(TBitmap &bitmap, const std::function<TColor(int, int)> &colour);

// Every pixel's bytes (padding excluded), size, format and the palette
// entries the format uses are equal.
bool SameBitmap(const TBitmap &a, const TBitmap &b);

// Every pixel's colour is equal (formats may differ).
bool SameColours(const TBitmap &a, const TBitmap &b);

// Where the shared test pictures are; empty when absent.
std::optional<QString> CorporaDir();

// Skips the current test, with a message, when the shared pictures are absent.
#define SKIP_WITHOUT_CORPORA(dir)                                                   \
    const std::optional<QString> dir##_found = CorporaDir();                        \
    if (!dir##_found) GTEST_SKIP() << "shared test pictures not found beside the repository"; \
    const QString dir = *dir##_found

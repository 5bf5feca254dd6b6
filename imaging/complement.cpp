// Complement: the negative of a picture's row bytes, in place.
#include "complement.h"

#include <algorithm>
#include <cstddef>

void Complement(TBitmap &bitmap)
{
    const int height = bitmap.GetHeight();
    // A row holds Width bytes unless its pixels take less than a byte each.
    const std::size_t pixelBytes = (static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) + 7) / 8;
    const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(bitmap.GetWidth()), pixelBytes);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = bitmap.GetScanline(y);
        // Plain loop: compilers vectorise it to full-width NOTs.
        for (std::size_t x = 0; x < bytes; ++x) row[x] = static_cast<std::uint8_t>(255 - row[x]);
    }
}

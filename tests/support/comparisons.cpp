// Comparisons of bitmaps by bytes, colours and alpha.
#include "support/comparisons.h"

#include <cstring>

bool SameBitmap(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat())
        return false;
    for (int i = 0; i < a.PaletteSize(); ++i)
        if (a.GetPalette()[static_cast<std::size_t>(i)] != b.GetPalette()[static_cast<std::size_t>(i)]) return false;
    const std::size_t bits = static_cast<std::size_t>(a.GetWidth()) * static_cast<std::size_t>(BitsPerPixel(a.GetPixelFormat()));
    // Bits of a last partial byte that belong to no pixel do not count.
    const int spareMask = 0xFF00 >> (bits % 8) & 0xFF;
    for (int y = 0; y < a.GetHeight(); ++y) {
        if (std::memcmp(a.Row(y), b.Row(y), bits / 8) != 0) return false;
        if (bits % 8 && (a.Row(y)[bits / 8] & spareMask) != (b.Row(y)[bits / 8] & spareMask)) return false;
    }
    return true;
}

bool SameColours(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (a.GetPixel(x, y) != b.GetPixel(x, y)) return false;
    return true;
}

bool SameAlpha(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
    const auto alpha = [](const TBitmap &bitmap, int x, int y) {
        const bool used = bitmap.GetPixelFormat() == pf32bit && bitmap.GetAlphaChannel() == TAlphaChannel::Used;
        return used ? bitmap.Row(y)[4 * x + 3] : 255;
    };
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (alpha(a, x, y) != alpha(b, x, y)) return false;
    return true;
}

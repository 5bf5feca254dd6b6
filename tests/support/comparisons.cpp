// Comparisons of bitmaps by bytes, colours and alpha.
#include "support/comparisons.h"

#include <algorithm>
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

std::uint32_t PixelBits(const TBitmap &bitmap, int x, int y)
{
    const int bits = BitsPerPixel(bitmap.GetPixelFormat());
    const std::uint8_t *row = bitmap.Row(y);
    if (bits < 8) return (row[x * bits / 8] >> (8 - bits - x * bits % 8)) & ((1u << bits) - 1);
    std::uint32_t value = 0;
    for (int i = 0; i < bits / 8; ++i) value = value << 8 | row[std::size_t(x) * std::size_t(bits / 8) + std::size_t(i)];
    return value;
}

bool HoldsTheFirstRowsOf(const TBitmap &cut, const TBitmap &whole, TRowsMissing missing)
{
    if (cut.GetWidth() != whole.GetWidth() || cut.GetHeight() != whole.GetHeight() || missing.rows != whole.GetHeight() ||
        missing.missing < 0 || missing.missing > missing.rows)
        return false;
    // A reader may keep a form of fewer bits while the pixels it has seen
    // need no more (opaque ones, say): then colours are compared.
    bool sameForm = cut.GetPixelFormat() == whole.GetPixelFormat();
    for (int i = 0; i < cut.PaletteSize() && sameForm; ++i)
        sameForm = cut.GetPalette()[static_cast<std::size_t>(i)] == whole.GetPalette()[static_cast<std::size_t>(i)];
    const int held = missing.rows - missing.missing;
    for (int y = 0; y < cut.GetHeight(); ++y) {
        int x = 0;
        while (x < cut.GetWidth() && (sameForm ? PixelBits(cut, x, y) == PixelBits(whole, x, y) : cut.GetPixel(x, y) == whole.GetPixel(x, y))) ++x;
        if (y < held && x < cut.GetWidth()) return false;
        for (; x < cut.GetWidth(); ++x)
            if (PixelBits(cut, x, y) != 0) return false;
    }
    return true;
}

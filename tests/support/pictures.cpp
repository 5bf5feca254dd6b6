// Test pictures made in the tests, and comparisons of bitmaps.
#include "pictures.h"

#include <QDir>

#include <cstring>
#include <random>

std::unique_ptr<TBitmap> MakeBitmap(int width, int height, TPixelFormat format)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Allocate(width, height, format);
    if (HasPalette(format)) {
        TPalette palette{};
        const int entries = bitmap->PaletteSize();
        for (int i = 0; i < entries; ++i) {
            const int grey = entries == 256 ? i : i * 255 / (entries - 1);
            palette[static_cast<std::size_t>(i)] = RGB(grey, grey, grey);
        }
        bitmap->SetPalette(palette);
    }
    return bitmap;
}

static std::size_t PixelBytes(const TBitmap &bitmap)
{
    return (static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) + 7) / 8;
}

void FillRandomBytes(TBitmap &bitmap, std::uint32_t seed)
{
    std::mt19937 random(seed);
    const std::size_t bytes = PixelBytes(bitmap);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        std::uint8_t *row = bitmap.GetScanline(y);
        for (std::size_t x = 0; x < bytes; ++x) row[x] = static_cast<std::uint8_t>(random());
    }
}

void FillColours(TBitmap &bitmap, const std::function<TColor(int, int)> &colour)
{
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) bitmap.SetPixel(x, y, colour(x, y));
}

bool SameBitmap(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat())
        return false;
    for (int i = 0; i < a.PaletteSize(); ++i)
        if (a.GetPalette()[static_cast<std::size_t>(i)] != b.GetPalette()[static_cast<std::size_t>(i)]) return false;
    const std::size_t bits = static_cast<std::size_t>(a.GetWidth()) * BitsPerPixel(a.GetPixelFormat());
    for (int y = 0; y < a.GetHeight(); ++y) {
        const std::uint8_t *ra = a.GetScanline(y);
        const std::uint8_t *rb = b.GetScanline(y);
        if (std::memcmp(ra, rb, bits / 8) != 0) return false;
        // Bits of a last partial byte that belong to no pixel do not count.
        if (bits % 8) {
            const int mask = 0xFF00 >> (bits % 8) & 0xFF;
            if ((ra[bits / 8] & mask) != (rb[bits / 8] & mask)) return false;
        }
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

std::optional<QString> CorporaDir()
{
    const QString dir = QStringLiteral(PW_CORPORA_DIR);
    if (!QDir(dir).exists()) return std::nullopt;
    return QDir(dir).canonicalPath();
}

// TBitmap: a device-independent picture held in memory, and its pixel access.
//
// Memory layout (every reader and writer of rows relies on this):
//  - Row 0 is the top row. Row y starts at GetScanline(y); each row takes
//    BytesPerRow() bytes: the pixel bytes rounded up to a multiple of 4.
//    Padding bytes are 0 when a row is made and never hold a pixel.
//  - pf1bit:  1 bit a pixel, the most significant bit of each byte first;
//             the bit is an index into a palette of 2 entries.
//  - pf4bit:  4 bits a pixel, the high nibble first; palette of 16 entries.
//  - pf8bit:  one byte a pixel, an index into a palette of 256 entries.
//  - pf15bit: 2 bytes a pixel, little-endian 0RRRRRGG GGGBBBBB (5-5-5).
//  - pf16bit: 2 bytes a pixel, little-endian RRRRRGGG GGGBBBBB (5-6-5).
//  - pf24bit: 3 bytes a pixel in the order B, G, R.
//  - pf32bit: 4 bytes a pixel in the order B, G, R, A; A = 255 is opaque.
//  - The palette always holds 256 TColor entries, whatever the format uses,
//    so no index read from a row can fall outside it; entries a picture
//    does not define are black.
//  - TColor is 0x00BBGGRR. 5- and 6-bit channels read as round(v * 255 / max)
//    (31 reads as 255) and are written as round(c * max / 255).
//
// Pixel access outside the picture is defined: reading gives clBlack and
// writing does nothing. GetScanline with a row outside the picture throws.
#pragma once

#include "colour.h"
#include "pixel_format.h"
#include "system.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

class TCanvas;

using TPalette = std::array<TColor, 256>;

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap &) = delete;
    TBitmap &operator=(const TBitmap &) = delete;

    // Copies image, size, pixel format and palette; the two stay independent.
    void Assign(const TBitmap *source);
    // Takes over the pixels of source, leaving it empty; no copy is made.
    void TakeOver(TBitmap &source);

    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    TPixelFormat GetPixelFormat() const { return format_; }

    // Gives the bitmap a new size and format; every pixel becomes 0
    // (palette index 0, or black). Throws when the size is negative or the
    // pixels would take more than MaxPixelBytes.
    void Allocate(int width, int height, TPixelFormat format);
    void SetSize(int width, int height) { Allocate(width, height, format_); }
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    // Converts every pixel to the new format in place (pixel_format_conversion.cpp).
    void SetPixelFormat(TPixelFormat format);

    int BytesPerRow() const { return static_cast<int>(stride_); }
    std::size_t ImageBytes() const { return stride_ * static_cast<std::size_t>(height_); }
    std::uint8_t *GetScanline(int y);
    const std::uint8_t *GetScanline(int y) const;
    // Rows without the range check, for loops that already bound y.
    std::uint8_t *Row(int y) { return pixels_.get() + stride_ * static_cast<std::size_t>(y); }
    const std::uint8_t *Row(int y) const { return pixels_.get() + stride_ * static_cast<std::size_t>(y); }

    const TPalette &GetPalette() const { return palette_; }
    void SetPalette(const TPalette &palette);
    void SetPaletteEntry(int index, TColor colour);
    // Entries the format uses: 2, 16 or 256 with a palette, else 0.
    int PaletteSize() const;
    // The palette entry equal to colour, else the nearest one (sum of squared
    // channel differences, lowest index on a tie). Cached: cheap per pixel.
    std::uint8_t PaletteIndexOf(TColor colour) const;

    inline TColor GetPixel(int x, int y) const;
    inline void SetPixel(int x, int y, TColor colour);

    TCanvas *GetCanvas();

    // Called after a change of size, format, palette or whole image.
    void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
    void Changed();

    // 2 GiB of pixels: beyond it a picture is refused before allocation.
    static constexpr std::size_t MaxPixelBytes = std::size_t(2) << 30;
    static std::size_t RowBytes(int width, TPixelFormat format);

private:
    struct FreeDeleter {
        void operator()(std::uint8_t *p) const { std::free(p); }
    };
    struct CacheEntry {
        TColor colour;
        std::uint8_t index;
    };
    static constexpr int CacheSize = 4096;

    std::uint8_t NearestPaletteIndex(TColor colour) const;
    void ForgetPaletteLookups() const;

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pf24bit;
    std::size_t stride_ = 0;
    std::unique_ptr<std::uint8_t[], FreeDeleter> pixels_;
    TPalette palette_{};
    mutable std::unique_ptr<std::array<CacheEntry, CacheSize>> paletteLookups_;
    std::unique_ptr<TCanvas> canvas_;
    std::function<void()> onChange_;
};

namespace channel {
// round(v * 255 / 31) and round(v * 255 / 63), and back.
inline constexpr std::array<std::uint8_t, 32> From5 = [] {
    std::array<std::uint8_t, 32> t{};
    for (int v = 0; v < 32; ++v) t[v] = static_cast<std::uint8_t>((v * 255 + 15) / 31);
    return t;
}();
inline constexpr std::array<std::uint8_t, 64> From6 = [] {
    std::array<std::uint8_t, 64> t{};
    for (int v = 0; v < 64; ++v) t[v] = static_cast<std::uint8_t>((v * 255 + 31) / 63);
    return t;
}();
constexpr int To5(int c) { return (c * 31 + 127) / 255; }
constexpr int To6(int c) { return (c * 63 + 127) / 255; }
} // namespace channel

inline TColor TBitmap::GetPixel(int x, int y) const
{
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_)
        || static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
        return clBlack;
    const std::uint8_t *row = Row(y);
    switch (format_) {
    case pf1bit: return palette_[(row[x >> 3] >> (7 - (x & 7))) & 1];
    case pf4bit: return palette_[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
    case pf8bit: return palette_[row[x]];
    case pf15bit: {
        const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        return RGB(channel::From5[(v >> 10) & 31], channel::From5[(v >> 5) & 31], channel::From5[v & 31]);
    }
    case pf16bit: {
        const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        return RGB(channel::From5[(v >> 11) & 31], channel::From6[(v >> 5) & 63], channel::From5[v & 31]);
    }
    case pf24bit: {
        const std::uint8_t *p = row + 3 * x;
        return RGB(p[2], p[1], p[0]);
    }
    case pf32bit: {
        const std::uint8_t *p = row + 4 * x;
        return RGB(p[2], p[1], p[0]);
    }
    default: return clBlack;
    }
}

// On palette formats the colour takes its palette entry (PaletteIndexOf);
// on pf32bit the pixel becomes opaque.
inline void TBitmap::SetPixel(int x, int y, TColor colour)
{
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(width_)
        || static_cast<unsigned>(y) >= static_cast<unsigned>(height_))
        return;
    std::uint8_t *row = Row(y);
    const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    switch (format_) {
    case pf1bit: {
        const int shift = 7 - (x & 7);
        row[x >> 3] = static_cast<std::uint8_t>((row[x >> 3] & ~(1 << shift)) | ((PaletteIndexOf(colour) & 1) << shift));
        break;
    }
    case pf4bit: {
        const int shift = (x & 1) ? 0 : 4;
        row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & ~(15 << shift)) | ((PaletteIndexOf(colour) & 15) << shift));
        break;
    }
    case pf8bit: row[x] = PaletteIndexOf(colour); break;
    case pf15bit: {
        const unsigned v = (channel::To5(r) << 10) | (channel::To5(g) << 5) | channel::To5(b);
        row[2 * x] = static_cast<std::uint8_t>(v);
        row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        break;
    }
    case pf16bit: {
        const unsigned v = (channel::To5(r) << 11) | (channel::To6(g) << 5) | channel::To5(b);
        row[2 * x] = static_cast<std::uint8_t>(v);
        row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        break;
    }
    case pf24bit: {
        std::uint8_t *p = row + 3 * x;
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
        break;
    }
    case pf32bit: {
        std::uint8_t *p = row + 4 * x;
        p[0] = static_cast<std::uint8_t>(b);
        p[1] = static_cast<std::uint8_t>(g);
        p[2] = static_cast<std::uint8_t>(r);
        p[3] = 255;
        break;
    }
    default: break;
    }
}

inline std::uint8_t TBitmap::PaletteIndexOf(TColor colour) const
{
    colour &= 0xFFFFFF;
    if (!paletteLookups_) ForgetPaletteLookups();
    CacheEntry &entry = (*paletteLookups_)[(static_cast<std::uint32_t>(colour) * 2654435761u) >> 20];
    if (entry.colour != colour) entry = {colour, NearestPaletteIndex(colour)};
    return entry.index;
}

// TBitmap: a device-independent picture held in memory, and its pixel access.
//
// Memory layout (every reader and writer of rows relies on this):
//  - Row 0 is the top row. Row y starts at GetScanline(y) (or Row(y)), the
//    only way to a row's address; each row takes BytesPerRow() bytes: the
//    pixel bytes rounded up to a multiple of 4. Padding bytes are 0 when a
//    row is made and never hold a pixel.
//  - The rows lie end to end in one block, in the bitmap's TRowOrder: top
//    row at the lowest address (TopDown, every bitmap but one a BMP reader
//    makes), or bottom row there (BottomUp, so a BMP file's rows arrive in
//    one read). Code that treats several rows as one piece of memory asks
//    RowStep or RowsBlock, never assumes an order.
//  - pf1bit:  1 bit a pixel, the most significant bit of each byte first;
//             the bit is an index into a palette of 2 entries.
//  - pf4bit:  4 bits a pixel, the high nibble first; palette of 16 entries.
//  - pf8bit:  one byte a pixel, an index into a palette of 256 entries.
//  - pf15bit: 2 bytes a pixel, little-endian 0RRRRRGG GGGBBBBB (5-5-5).
//  - pf16bit: 2 bytes a pixel, little-endian RRRRRGGG GGGBBBBB (5-6-5).
//  - pf24bit: 3 bytes a pixel in the order B, G, R.
//  - pf32bit: 4 bytes a pixel in the order B, G, R, A; A = 255 is opaque.
//             Whether A is alpha is the bitmap's TAlphaChannel: a picture
//             read from a file without alpha has it Unused, and is shown
//             and saved opaque whatever operations write there.
//  - The palette always holds 256 TColor entries, whatever the format uses,
//    so no index read from a row can fall outside it; entries a picture
//    does not define are black.
//  - TColor is 0x00BBGGRR. 5- and 6-bit channels read as round(v * 255 / max)
//    (31 reads as 255) and are written as round(c * max / 255).
//  - Every format's packing and rounding is written once, in pixel_packing.h.
//
// Pixel access outside the picture is defined: reading gives clBlack and
// writing does nothing. GetScanline with a row outside the picture throws.
//
// Beside the pixels the bitmap holds what its file carried (colour
// profile, camera data, resolution, notes): TPictureMetadata, in
// picture_metadata.h, which says how it travels.
#pragma once

#include "platform/base/malloc_memory.h"
#include "platform/base/strings_and_errors.h"
#include "platform/pictures/colour.h"
#include "platform/pictures/colour_index_table.h"
#include "platform/pictures/picture_metadata.h"
#include "platform/pictures/pixel_format.h"
#include "platform/pictures/pixel_packing.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <span>

class TCanvas;

// Whether the 4th byte of pf32bit pixels is alpha (Used) or holds nothing
// (Unused: every pixel counts as opaque).
enum class TAlphaChannel { Used, Unused };

// How a bitmap's rows lie in memory: row 0 at the block's lowest address
// and each next row above it (TopDown), or row 0 at the highest (BottomUp).
enum class TRowOrder { TopDown, BottomUp };

// Rows a decoder could not find because the file ends early (a row cut in
// two counts as missing), of the picture's rows.
struct TRowsMissing {
    int missing = 0;
    int rows = 0;
};

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap &) = delete;
    TBitmap &operator=(const TBitmap &) = delete;

    // Copies image, size, pixel format, palette and metadata; the two stay
    // independent.
    void Assign(const TBitmap *source);
    // Takes over the pixels and metadata of source, leaving it empty; no
    // copy is made.
    void TakeOver(TBitmap &source);

    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    TPixelFormat GetPixelFormat() const { return format_; }
    // Used after Allocate; copied by Assign and TakeOver.
    TAlphaChannel GetAlphaChannel() const { return alpha_; }
    void SetAlphaChannel(TAlphaChannel alpha) { alpha_ = alpha; }
    // What the picture's file carried besides its pixels (picture_metadata.h).
    const TPictureMetadata &GetMetadata() const { return metadata_; }
    // Replaces it; views redraw, as the colour profile is how they show it.
    void SetMetadata(TPictureMetadata metadata);

    // Gives the bitmap a new size and format; every pixel becomes 0
    // (palette index 0, or black). Throws when the size is negative or the
    // pixels (or one row) would take MaxPixelBytes or more.
    void Allocate(int width, int height, TPixelFormat format, TRowOrder order = TRowOrder::TopDown);
    // Allocate without clearing the pixel bytes, for a decoder or conversion
    // that writes every byte of every row, padding included: it spares the
    // pass that clears memory the allocator recycles. Until written, the
    // bytes are whatever the memory held.
    void AllocateForOverwrite(int width, int height, TPixelFormat format, TRowOrder order = TRowOrder::TopDown);
    // A new size is a new picture: its rows are TopDown.
    void SetSize(int width, int height) { Allocate(width, height, format_); }
    // Converts every pixel to the new format (pixel_format_conversion.cpp);
    // the rows become TopDown.
    void SetPixelFormat(TPixelFormat format);

    std::size_t BytesPerRow() const { return stride_; }
    std::size_t ImageBytes() const { return stride_ * static_cast<std::size_t>(height_); }
    std::uint8_t *GetScanline(int y);
    const std::uint8_t *GetScanline(int y) const;
    // Rows without the range check, for loops that already bound y.
    std::uint8_t *Row(int y) { return top_ + step_ * static_cast<std::ptrdiff_t>(y); }
    const std::uint8_t *Row(int y) const { return top_ + step_ * static_cast<std::ptrdiff_t>(y); }
    TRowOrder GetRowOrder() const { return step_ < 0 ? TRowOrder::BottomUp : TRowOrder::TopDown; }
    // Row(y + 1) - Row(y): BytesPerRow(), negated for BottomUp rows.
    std::ptrdiff_t RowStep() const { return step_; }
    // Rows first to end - 1 as one piece of memory: its lowest address (the
    // piece is BytesPerRow() * (end - first) bytes, its rows in the
    // bitmap's order).
    std::uint8_t *RowsBlock(int first, int end) { return step_ < 0 ? Row(end - 1) : Row(first); }
    const std::uint8_t *RowsBlock(int first, int end) const { return step_ < 0 ? Row(end - 1) : Row(first); }

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

    // Called after a change of size, format, palette or whole image, and at
    // the end of every operation in imaging/, so that views redraw.
    void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
    void Changed();

    // Bytes allocated after the last row, never part of a pixel: a 24-bit
    // pixel can be read with one 4-byte load.
    static constexpr std::size_t Slack = 4;
    // 2 GiB: a picture must take less, so that every byte offset of a
    // pixel, and every row's size, fits an int as Qt's images need.
    static constexpr std::size_t MaxPixelBytes = std::size_t(2) << 30;
    static std::size_t RowBytes(int width, TPixelFormat format);
    // Whether a picture of this size and format takes less than
    // MaxPixelBytes, and so each of its rows too: decoders check a claimed
    // size with it before they decode anything.
    static bool SizeFits(int width, int height, TPixelFormat format);
    // Why a picture of this size and format does not fit: its size, the
    // MiB it would take and the limit it must stay under.
    static QString TooLargeReason(int width, int height, TPixelFormat format);

private:
    // The colour of a recent lookup. A type of its own, and its index a
    // char8_t, so that storing them changes no member for the compiler
    // (docs/benchmarks.md, "Pixel access").
    enum class RecentColour : std::uint32_t {};
    static constexpr int RecentBits = 14;
    // Recent lookups by colour hash, which start with the palette's own
    // colours, each in a slot of its own where the hash allows; and those
    // colours again in a table of their own, so that a colour that is
    // an entry never costs a search even when its recent slot is taken.
    // Held only by a bitmap with pixels of a palette format, the only ones
    // SetPixel looks colours up for: the bitmaps an opening makes and hands
    // on build none, or one (TakeOver moves them).
    struct PaletteLookups {
        std::array<RecentColour, std::size_t(1) << RecentBits> recentColours;
        std::array<char8_t, std::size_t(1) << RecentBits> recentIndices;
        TColourIndexTable exact;
    };

    enum class TFill { Zeroes, None };
    void AllocatePixels(int width, int height, TPixelFormat format, TFill fill, TRowOrder order);
    // Points top_ and step_ at pixels_'s rows in that order.
    void LayRows(TRowOrder order);

    // Pure: a loop around a call keeps what it read before it.
    [[gnu::pure]] std::uint8_t NearestPaletteIndex(TColor colour) const;
    // The recent lookup of a 24-bit colour: its NearestPaletteIndex with it.
    [[gnu::pure, gnu::cold]] std::uint32_t NearestPaletteEntry(std::uint32_t colour) const;
    // What SetPixel stores for pf1bit and pf4bit (the byte holding pixel x,
    // with its bits set to the nearest palette entry's index) and for
    // pf15bit and pf16bit (the pixel's 2 bytes, little-endian), as two
    // bytes to store, the second at the first's offset plus a step of 0 or
    // 1: offset << 17 | step << 16 | second << 8 | first. Out of line and
    // cold, so that loops over the common formats stay small.
    [[gnu::pure, gnu::cold]] std::uint64_t OtherFormatStore(const std::uint8_t *row, int x, TColor colour) const;
    void ForgetPaletteLookups() const;
    // PaletteIndexOf from the lookups and their multiplier read beforehand.
    inline std::uint8_t RecentPaletteIndex(PaletteLookups *lookups, std::uint32_t multiplier, TColor colour) const;

    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = pf24bit;
    TAlphaChannel alpha_ = TAlphaChannel::Used;
    std::size_t stride_ = 0;
    // The block, lowest address first; row 0 at top_, row y at
    // top_ + step_ * y. Pixel access reads top_ and step_ only.
    TMallocPtr<std::uint8_t[]> pixels_;
    std::uint8_t *top_ = nullptr;
    std::ptrdiff_t step_ = 0;
    TPalette palette_{};
    TPictureMetadata metadata_;
    mutable std::unique_ptr<PaletteLookups> paletteLookups_;
    // The multiplier of the recent lookups' hash
    // (colour * multiplier) >> (32 - RecentBits), chosen with each palette;
    // a member of its own, so that a loop of SetPixel calls reads it once.
    mutable std::uint32_t recentMultiplier_ = 0;
    std::unique_ptr<TCanvas> canvas_;
    std::function<void()> onChange_;
};

// Whether a pf32bit picture has a pixel whose alpha is not 255: what a
// writer asks to choose between a form with alpha and one without.
bool AnyTranslucent(const TBitmap &bitmap);

inline TColor TBitmap::GetPixel(int x, int y) const
{
    // Every member read before any test, every format worked out without a
    // call: a loop of calls becomes one loop a format that reads the
    // members once (docs/benchmarks.md, "Pixel access").
    const TPixelFormat format = format_;
    const unsigned width = static_cast<unsigned>(width_), height = static_cast<unsigned>(height_);
    const std::uint8_t *top = top_;
    const std::ptrdiff_t offset = step_ * static_cast<std::ptrdiff_t>(y);
    // Both bounds in one test: a row outside the picture has no columns,
    // and the loop along a row keeps one comparison per pixel.
    const unsigned columns = static_cast<unsigned>(y) < height ? width : 0;
    if (static_cast<unsigned>(x) >= columns) return clBlack;
    const std::uint8_t *row = top + offset;
    if (format == pf8bit) return palette_[row[x]];
    if (format == pf24bit || format == pf32bit) return pixel::FromBgr(row + (format == pf24bit ? 3 : 4) * x);
    if (format == pf1bit) return static_cast<TColor>(pixel::Read<pf1bit>(row, x, palette_));
    if (format == pf4bit) return static_cast<TColor>(pixel::Read<pf4bit>(row, x, palette_));
    if (format == pf15bit) return static_cast<TColor>(pixel::Read<pf15bit>(row, x, palette_));
    return static_cast<TColor>(pixel::Read<pf16bit>(row, x, palette_));
}

// On palette formats the colour takes its palette entry (PaletteIndexOf);
// on pf32bit the pixel becomes opaque.
inline void TBitmap::SetPixel(int x, int y, TColor colour)
{
    // As in GetPixel; no store below changes a member for the compiler and
    // no call writes memory.
    const TPixelFormat format = format_;
    const unsigned width = static_cast<unsigned>(width_), height = static_cast<unsigned>(height_);
    std::uint8_t *top = top_;
    const std::ptrdiff_t offset = step_ * static_cast<std::ptrdiff_t>(y);
    PaletteLookups *lookups = paletteLookups_.get();
    const std::uint32_t multiplier = recentMultiplier_;
    const unsigned columns = static_cast<unsigned>(y) < height ? width : 0;
    if (static_cast<unsigned>(x) >= columns) return;
    std::uint8_t *row = top + offset;
    if (format == pf8bit) return pixel::SetIndex<pf8bit>(row, x, RecentPaletteIndex(lookups, multiplier, colour));
    if (format == pf24bit || format == pf32bit) {
        pixel::WriteBgr(row + (format == pf24bit ? 3 : 4) * x, colour);
        if (format == pf32bit) pixel::StoreByte(row + 4 * x + 3, 0xFF);
        return;
    }
    // The other formats' bytes are worked out by a call that only reads,
    // and both stored here, always, so that the loop holds no test for them.
    const std::uint64_t store = OtherFormatStore(row, x, colour);
    std::uint8_t *first = row + (store >> 17);
    pixel::StoreByte(first, static_cast<unsigned>(store & 0xFF));
    pixel::StoreByte(first + ((store >> 16) & 1), static_cast<unsigned>((store >> 8) & 0xFF));
}

inline std::uint8_t TBitmap::PaletteIndexOf(TColor colour) const
{
    // A colour with a top byte takes the search too, which ignores that byte.
    if (!paletteLookups_) return NearestPaletteIndex(colour & 0xFFFFFF);
    return RecentPaletteIndex(paletteLookups_.get(), recentMultiplier_, colour);
}

inline std::uint8_t TBitmap::RecentPaletteIndex(PaletteLookups *lookups, std::uint32_t multiplier, TColor colour) const
{
    // A colour with a top byte never matches a recent colour (they have
    // none), so it takes the search, which ignores that byte.
    const auto key = static_cast<std::uint32_t>(colour);
    const std::size_t slot = (key * multiplier) >> (32 - RecentBits);
    if (static_cast<std::uint32_t>(lookups->recentColours[slot]) == key) [[likely]]
        return static_cast<std::uint8_t>(lookups->recentIndices[slot]);
    // The slot worked out again from the call's result: the loop around
    // keeps fewer values across this rare path's call.
    const std::uint32_t entry = NearestPaletteEntry(key & 0xFFFFFF);
    const std::size_t own = ((entry >> 8) * multiplier) >> (32 - RecentBits);
    lookups->recentColours[own] = RecentColour{entry >> 8};
    lookups->recentIndices[own] = static_cast<char8_t>(entry);
    return static_cast<std::uint8_t>(entry);
}

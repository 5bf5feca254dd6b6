// What every reader does last with what its file carried: keeping it, and turning the picture upright.
#include "platform/files/reader_metadata.h"

#include "platform/base/work_progress.h"
#include "platform/files/opening_limits.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/pictures/pixel_packing.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool SwapsRowsAndColumns(TOrientation stored) { return static_cast<int>(stored) >= static_cast<int>(TOrientation::Transposed); }

// Reads and writes pixel x of a row, whatever the format's width: pf1bit
// and pf4bit as their index bits, the others as their bytes.
struct TPixels {
    TPixelFormat format;
    std::size_t bytes; // bytes a pixel, 0 below 8 bits

    explicit TPixels(TPixelFormat f) : format(f), bytes(static_cast<std::size_t>(BitsPerPixel(f) / 8))
    {
        if (BitsPerPixel(f) == 0) throw Exception(QStringLiteral("a picture of this pixel format cannot be turned"));
    }
    unsigned Index(const std::uint8_t *row, int x) const
    {
        return format == pf1bit ? pixel::Index<pf1bit>(row, x) : pixel::Index<pf4bit>(row, x);
    }
    void SetIndex(std::uint8_t *row, int x, unsigned index) const
    {
        if (format == pf1bit)
            pixel::SetIndex<pf1bit>(row, x, index);
        else
            pixel::SetIndex<pf4bit>(row, x, index);
    }
    void Copy(const std::uint8_t *from, int fromX, std::uint8_t *to, int toX) const
    {
        if (bytes)
            std::memcpy(to + bytes * std::size_t(toX), from + bytes * std::size_t(fromX), bytes);
        else
            SetIndex(to, toX, Index(from, fromX));
    }
    void Swap(std::uint8_t *a, int ax, std::uint8_t *b, int bx) const
    {
        if (bytes) {
            std::uint8_t held[4];
            std::memcpy(held, a + bytes * std::size_t(ax), bytes);
            std::memcpy(a + bytes * std::size_t(ax), b + bytes * std::size_t(bx), bytes);
            std::memcpy(b + bytes * std::size_t(bx), held, bytes);
            return;
        }
        const unsigned held = Index(a, ax);
        SetIndex(a, ax, Index(b, bx));
        SetIndex(b, bx, held);
    }
};

void MirrorRow(const TPixels &pixels, std::uint8_t *row, int width)
{
    for (int x = 0; x < width / 2; ++x) pixels.Swap(row, x, row, width - 1 - x);
}

} // namespace

void TurnUpright(TBitmap &picture, TOrientation stored)
{
    if (stored == TOrientation::Upright || picture.Empty()) return;
    const TPixels pixels(picture.GetPixelFormat());
    const int width = picture.GetWidth(), height = picture.GetHeight();
    if (!SwapsRowsAndColumns(stored)) {
        // Rows swapped top for bottom for a flip or a half turn, each
        // mirrored for a mirror or a half turn.
        const bool flips = stored != TOrientation::Mirrored, mirrors = stored != TOrientation::Flipped;
        std::vector<std::uint8_t> held(flips ? picture.BytesPerRow() : 0);
        const int rows = flips ? height / 2 : height;
        for (int y = 0; y < rows; ++y) {
            std::uint8_t *top = picture.Row(y);
            if (flips) {
                std::uint8_t *bottom = picture.Row(height - 1 - y);
                std::memcpy(held.data(), top, held.size());
                std::memcpy(top, bottom, held.size());
                std::memcpy(bottom, held.data(), held.size());
                if (mirrors) MirrorRow(pixels, bottom, width);
            }
            if (mirrors) MirrorRow(pixels, top, width);
            if ((y & 255) == 255) ReportProgress(std::uint64_t(y) + 1, std::uint64_t(rows));
        }
        if (flips && mirrors && height % 2) MirrorRow(pixels, picture.Row(height / 2), width);
        return;
    }
    TBitmap turned;
    AllocateDecoded(turned, height, width, picture.GetPixelFormat());
    turned.SetPalette(picture.GetPalette());
    turned.SetAlphaChannel(picture.GetAlphaChannel());
    // Each shown row gathers a stored column: (x, y) shown is the stored
    // pixel (sx, sy).
    for (int y = 0; y < width; ++y) {
        std::uint8_t *out = turned.Row(y);
        for (int x = 0; x < height; ++x) {
            int sx = y, sy = x;
            switch (stored) {
            case TOrientation::Transposed: break;
            case TOrientation::QuarterClockwise: sy = height - 1 - x; break;
            case TOrientation::Transversed: sx = width - 1 - y; sy = height - 1 - x; break;
            default: sx = width - 1 - y; break; // a quarter anticlockwise
            }
            pixels.Copy(picture.Row(sy), sx, out, x);
        }
        if ((y & 63) == 63) ReportProgress(std::uint64_t(y) + 1, std::uint64_t(width));
    }
    TPictureMetadata metadata = picture.GetMetadata();
    picture.TakeOver(turned);
    picture.SetMetadata(std::move(metadata));
}

std::uint64_t TurningBytes(TOrientation stored, std::uint64_t pictureBytes) { return SwapsRowsAndColumns(stored) ? pictureBytes : 0; }

void KeepFoundMetadata(TBitmap &picture, TPictureMetadata found)
{
    DropUnusablePieces(found);
    const TOrientation orientation = StatedOrientation(found);
    KeepFoundMetadata(picture, std::move(found), orientation);
}

void KeepFoundMetadata(TBitmap &picture, TPictureMetadata found, TOrientation orientation)
{
    DropUnusablePieces(found);
    if (!found.resolution) found.resolution = ExifResolution(found.exif);
    TurnUpright(picture, orientation);
    picture.SetMetadata(std::move(found));
}

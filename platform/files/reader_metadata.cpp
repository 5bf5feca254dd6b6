// What every reader does last with what its file carried: keeping it, and turning the picture upright.
#include "platform/files/reader_metadata.h"

#include "platform/base/work_progress.h"
#include "platform/metadata/exif_xmp.h"

#include <cstring>

namespace {

// The stored column and row shown at (x, y) of the upright picture.
struct TStored {
    int x, y;
};

TStored StoredAt(TOrientation orientation, int x, int y, int width, int height)
{
    switch (orientation) {
    case TOrientation::Upright: break;
    case TOrientation::Mirrored: return {width - 1 - x, y};
    case TOrientation::HalfTurn: return {width - 1 - x, height - 1 - y};
    case TOrientation::Flipped: return {x, height - 1 - y};
    case TOrientation::Transposed: return {y, x};
    case TOrientation::QuarterClockwise: return {y, height - 1 - x};
    case TOrientation::Transversed: return {width - 1 - y, height - 1 - x};
    case TOrientation::QuarterAnticlockwise: return {width - 1 - y, x};
    }
    return {x, y};
}

bool SwapsSides(TOrientation orientation) { return static_cast<int>(orientation) >= static_cast<int>(TOrientation::Transposed); }

} // namespace

void TurnUpright(TBitmap &picture, TOrientation orientation)
{
    if (orientation == TOrientation::Upright || picture.Empty()) return;
    const int width = picture.GetWidth(), height = picture.GetHeight();
    const int outWidth = SwapsSides(orientation) ? height : width, outHeight = SwapsSides(orientation) ? width : height;
    const TPixelFormat format = picture.GetPixelFormat();
    TBitmap turned;
    turned.Allocate(outWidth, outHeight, format);
    turned.SetPalette(picture.GetPalette());
    turned.SetAlphaChannel(picture.GetAlphaChannel());
    const int bits = BitsPerPixel(format);
    const std::size_t bytes = static_cast<std::size_t>(bits / 8);
    for (int y = 0; y < outHeight; ++y) {
        std::uint8_t *out = turned.Row(y);
        for (int x = 0; x < outWidth; ++x) {
            const TStored from = StoredAt(orientation, x, y, width, height);
            const std::uint8_t *row = picture.Row(from.y);
            if (format == pf1bit)
                pixel::SetIndex<pf1bit>(out, x, pixel::Index<pf1bit>(row, from.x));
            else if (format == pf4bit)
                pixel::SetIndex<pf4bit>(out, x, pixel::Index<pf4bit>(row, from.x));
            else
                std::memcpy(out + bytes * std::size_t(x), row + bytes * std::size_t(from.x), bytes);
        }
        if ((y & 63) == 63) ReportProgress(std::uint64_t(y) + 1, std::uint64_t(outHeight));
    }
    picture.TakeOver(turned);
}

void KeepFoundMetadata(TBitmap &picture, TPictureMetadata found)
{
    DropUnusablePieces(found);
    if (!found.resolution) found.resolution = ExifResolution(found.exif);
    TurnUpright(picture, StatedOrientation(found));
    picture.SetMetadata(std::move(found));
}

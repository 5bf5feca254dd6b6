// Pixel capture: the picture converted to 8 bits a pixel and its colours copied into a fixed table.
#include "pixel_capture.h"

#include "platform/base/parallel_pieces.h"

#include <algorithm>

int PixelTable[512][512];

void CapturePixels(TBitmap &bitmap) { CapturePixelsInto(bitmap, std::span<int, 512 * 512>(&PixelTable[0][0], 512 * 512)); }

void CapturePixelsInto(TBitmap &bitmap, std::span<int, 512 * 512> cells)
{
    bitmap.SetPixelFormat(pf8bit);
    const int width = std::min(bitmap.GetWidth(), 512);
    const int height = std::min(bitmap.GetHeight(), 512);
    const TPalette &palette = bitmap.GetPalette();
    // Column by column, so the table is written in its own order, in groups
    // of columns on every core; each colour is the palette entry of the
    // pixel's index, as GetPixel reads it.
    constexpr int groupColumns = 64;
    const auto groups = static_cast<std::size_t>((width + groupColumns - 1) / groupColumns);
    ForEachPiece(groups, WorkerThreads(), [&](std::size_t group, unsigned) {
        const int first = static_cast<int>(group) * groupColumns;
        for (int x = first; x < std::min(width, first + groupColumns); ++x) {
            int *column = cells.data() + static_cast<std::size_t>(x) * 512;
            for (int y = 0; y < height; ++y) column[y] = palette[bitmap.Row(y)[x]];
        }
    }, TPieceProgress::Unreported);
    bitmap.Changed();
}

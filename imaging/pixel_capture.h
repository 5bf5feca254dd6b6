// Pixel capture: the picture converted to 8 bits a pixel and its colours copied into a fixed table.
#pragma once

#include "platform/pictures/bitmap.h"

#include <span>

// 512 x 512 captured colours (TColor), indexed [x][y]: cell (x, y) is at
// int offset x * 512 + y, so one column's cells are contiguous. Of static
// storage, zero at start; a capture overwrites only the cells of its own
// pixels and nothing ever clears them.
extern int PixelTable[512][512];

// Converts the picture to pf8bit (TBitmap::SetPixelFormat), then stores the colour of every pixel (x, y) with x < 512
// and y < 512, as GetPixel gives it, into PixelTable[x][y]. Pixels beyond
// the table's 512 columns or rows are not captured. An empty picture is
// converted and captures nothing. Ends with Changed(), as every operation
// does.
void CapturePixels(TBitmap &bitmap);

// CapturePixels into any table of PixelTable's layout, x * 512 + y: for
// tests that guard the table's end.
void CapturePixelsInto(TBitmap &bitmap, std::span<int, 512 * 512> cells);

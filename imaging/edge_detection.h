// Edge detection: the clamped 3 x 3 Laplacian of a picture's row bytes, in place.
#pragma once

#include "platform/pictures/bitmap.h"

#include <cstddef>
#include <cstdint>

// Each of the first Width bytes v of every row becomes
//   8 * v - (the sum of its eight neighbours), clamped to 0..255,
// with the picture taken as periodic: the top row's upper neighbours are the
// bottom row's bytes, the left column's left neighbours the last byte of the
// row, and the other way round. Neighbours are always the bytes as they were
// before the pass. One byte is one pixel: on an 8-bit grey picture (palette
// index i is grey i) the result is the grey edge picture; on other 8-bit
// pictures it works on palette indices; on 15- to 32-bit pictures only the
// first Width bytes of each row change. Rows that hold fewer than Width bytes
// (pf1bit, pf4bit) use only the bytes they hold. Padding is never touched.
// A 1 x 1 picture becomes 0; pictures of width or height 0 stay as they are.
// Ends with Changed(), as every operation does.
void EdgeDetection(TBitmap &bitmap);

// Complement: the negative of a picture's row bytes, in place.
#pragma once

#include "platform/pictures/bitmap.h"

// For every row, each of its first Width bytes v becomes 255 - v. On an
// 8-bit grey picture (palette index i is grey i) that is the negative; on
// other 8-bit pictures it changes palette indices; on 24- and 32-bit
// pictures only the first Width bytes of each row change. Rows that hold
// fewer than Width bytes (pf1bit, pf4bit) change only the bytes they hold,
// so a 1-bit picture has every pixel's bit inverted; the bits of the last
// byte beyond the width, like padding, are never touched.
// Pictures of width or height 0 are left as they are. Ends with Changed(),
// as every operation does.
void Complement(TBitmap &bitmap);

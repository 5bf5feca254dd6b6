// Mirror: the picture reversed left to right, in place.
#pragma once

#include "platform/pictures/bitmap.h"

// Pixel (x, y) moves to (Width - 1 - x, y); rows keep their order. Whole
// pixels move unchanged in every pixel format: palette indices (pf1bit,
// pf4bit, pf8bit), 2-, 3- and 4-byte pixels, alpha included, so mirroring
// twice gives back every pixel byte. The bits of a last partial byte that
// hold no pixel and the padding stay as they were. The middle column of an
// odd width stays in place; a picture of width 1, or of width or height 0,
// is unchanged. Ends with Changed(), as every operation does.
void MirrorLeftRight(TBitmap &bitmap);

// The bridge between Qt's QImage and our bitmaps, both ways.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QImage>

// Converts a decoded image into the smallest bitmap that holds it exactly:
//  - pixels with an alpha below 255 anywhere: pf32bit, not premultiplied;
//  - otherwise Mono/MonoLSB: pf1bit with the image's two colours;
//  - Grayscale8/16, or Indexed8 whose colours are all grey: pf8bit whose
//    palette gives index i the grey level i;
//  - other Indexed8: pf8bit with the image's indices and colours;
//  - any other format: pf24bit.
// Palette entries the image does not define are black; more than 8 bits a
// channel go to 8 by Qt's conversion. The bitmap is replaced as it is
// converted into: Qt's reader converts into the picture it decodes
// (decoded_picture.h), which a failure leaves unshown.
void BitmapFromQImage(const QImage &image, TBitmap &bitmap);

// An image of the bitmap's pixels. It shares the bitmap's rows where a Qt
// format matches (pf1bit Mono, pf8bit Indexed8, pf15bit RGB555, pf16bit
// RGB16, pf24bit BGR888, pf32bit ARGB32), so it is valid only while the
// bitmap keeps its size, format and pixels; writing to it makes Qt copy.
// pf4bit gives an Indexed8 copy. The colour table is the used palette
// entries. Qt widens 5- and 6-bit channels by bit replication, which can
// differ by 1 from the rounding bitmap.h states.
QImage QImageFromBitmap(const TBitmap &bitmap);
// An image of the bitmap's rows as they are, in a Qt format of the same
// bytes: shared as above where the rows lie top down, else a copy.
QImage QImageOverRows(const TBitmap &bitmap, QImage::Format format);

// An Indexed8 copy of a pf1bit, pf4bit or pf8bit bitmap with its used
// palette entries, for writers that keep no other indexed form.
QImage Indexed8CopyOf(const TBitmap &bitmap);
// A BGR888 copy of a pf15bit or pf16bit bitmap, its 5- and 6-bit channels
// widened as bitmap.h states, so that files keep the colours the rest of
// the program shows.
QImage WidenedCopyOf(const TBitmap &bitmap);

// Whether an image of this size and format (ARGB32 for Format_Invalid)
// cannot be allocated now: the likely cause when a Qt reader or writer fails
// on a large picture.
bool MemoryRunsShort(QSize size, QImage::Format format);

// Pictures in the formats Qt's image plugins read and write, turned into
// and out of our bitmaps.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <span>

// Decodes with Qt's readers (PNG, JPEG, GIF, PBM/PGM/PPM, TIFF, WebP, ICO
// and whatever else the installed plugins read) into the smallest form that
// holds the pixels exactly, as BitmapFromQImage describes, turned upright
// as a photograph's orientation tag says. A picture whose
// header gives a size beyond TBitmap::MaxPixelBytes is refused before any
// pixel is allocated. A GIF, which Qt gives in 32-bit form, comes back as
// pf8bit with the file's own colour table when its colours are all opaque.
// Throws Exception with a plain reason (no file name) when the bytes are not
// a picture it reads, are damaged or incomplete (a JPEG without its end
// marker, a GIF whose first image is cut off), or are too large; `into` is
// then unchanged.
void DecodeWithQt(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes with Qt's writer for `format` ("png", "jpg", "pbm", "pgm",
// "ppm", "tiff", "webp", ...). PNG and TIFF keep every pixel and alpha value;
// WebP is written lossless and keeps every pixel that is not fully
// transparent (its encoder drops the colour under alpha 0); JPEG is written at
// quality 95; PGM is grey, PBM black and white, PPM colour without alpha.
// Throws Exception with the reason when the picture is empty, too large for
// the format, or the writer fails.
QByteArray EncodeWithQt(const TBitmap &bitmap, const char *format);

// Converts a decoded image into the smallest bitmap that holds it exactly:
//  - pixels with an alpha below 255 anywhere: pf32bit, not premultiplied;
//  - otherwise Mono/MonoLSB: pf1bit with the image's two colours;
//  - Grayscale8/16, or Indexed8 whose colours are all grey: pf8bit whose
//    palette gives index i the grey level i;
//  - other Indexed8: pf8bit with the image's indices and colours;
//  - any other format: pf24bit.
// Palette entries the image does not define are black; more than 8 bits a
// channel go to 8 by Qt's conversion. `into` is unchanged when it throws.
void BitmapFromQImage(const QImage &image, TBitmap &into);

// An image of the bitmap's pixels. It shares the bitmap's rows where a Qt
// format matches (pf1bit Mono, pf8bit Indexed8, pf15bit RGB555, pf16bit
// RGB16, pf24bit BGR888, pf32bit ARGB32), so it is valid only while the
// bitmap keeps its size, format and pixels; writing to it makes Qt copy.
// pf4bit gives an Indexed8 copy. The colour table is the used palette
// entries. Qt widens 5- and 6-bit channels by bit replication, which can
// differ by 1 from the rounding bitmap.h states.
QImage QImageFromBitmap(const TBitmap &bitmap);

// Throws Exception, giving the size, when a picture of width x height
// would take more than TBitmap::MaxPixelBytes in the given format.
void CheckPictureFits(int width, int height, TPixelFormat format);

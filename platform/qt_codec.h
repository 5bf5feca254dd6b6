// Pictures in the formats Qt's image plugins read and write, turned into
// and out of our bitmaps.
#pragma once

#include "bitmap.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <span>

// Decodes with Qt's readers into the smallest form that holds the pixels
// exactly (grey pictures as pf8bit with the grey palette, colour without
// alpha as pf24bit, with alpha as pf32bit, palette pictures as pf8bit or
// pf1bit). Throws Exception with the reason when Qt cannot read the bytes.
void DecodeWithQt(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes with Qt's writer for `format` ("png", "jpg", "pgm", ...).
QByteArray EncodeWithQt(const TBitmap &bitmap, const char *format);

// Conversions between our bitmaps and QImage, exact in both directions
// wherever the target can hold the pixels.
void BitmapFromQImage(const QImage &image, TBitmap &into);
QImage QImageFromBitmap(const TBitmap &bitmap);

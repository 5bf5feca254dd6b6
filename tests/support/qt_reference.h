// Our readers held to Qt's reading of the same file, where they take over
// files that Qt's readers read before; and files as Qt's writers write them.
#pragma once

#include "support/decoding.h"

#include <QImage>

// Expects `decode` to give the same form, palette and bytes as Qt's reader,
// the picture turned upright as Qt's reader turns it.
void ExpectReadsAsQt(TDecoder decode, const QByteArray &file);
// The file as Qt's reader reads it, turned upright as it turns it (by
// the orientation a JPEG's EXIF or a TIFF's field states), in our bitmap's
// smallest form (BitmapFromQImage); null where it cannot read it.
std::unique_ptr<TBitmap> UprightByQt(const QByteArray &file);
// Expects `decode` to give the same form, palette and bytes as Qt's codec
// of this program (DecodeWithQt): Qt's reading in the smallest form, a
// GIF's pixels as indices into its own table.
void ExpectReadsAsQtCodec(TDecoder decode, const QByteArray &file);
// The file as `decode` reads it, after expecting Qt's reading of the same
// file to be refused for the memory it would take.
std::unique_ptr<TBitmap> DecodedWhereQtIsRefused(TDecoder decode, const QByteArray &file);

// The picture as Qt's writer of the format writes it, at a quality (-1 for
// the writer's own), a JPEG in one scan or progressive, with the standard's
// Huffman tables or tables made for the picture's own symbols.
enum class TJpegScans { One, Progressive };
enum class THuffmanTables { Standard, MadeForThePicture };
QByteArray WrittenByQt(const QImage &image, const char *format, int quality = -1, TJpegScans scans = TJpegScans::One,
                       THuffmanTables tables = THuffmanTables::Standard);

// Reading and writing picture files: the format is chosen here, the bytes
// are made by the codecs (bmp_codec.h, qt_codec.h).
#pragma once

#include "bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

enum class TPictureFileFormat { Bmp, Png, Jpeg, Pbm, Pgm, Ppm, Tiff, Webp };

// The format a file name's extension names; BMP when none or unknown.
TPictureFileFormat PictureFileFormatFor(const AnsiString &fileName);

// Decodes a whole file held in memory. Throws Exception with the reason
// (without a file name) when the bytes are not a picture it can read.
void DecodePicture(std::span<const std::uint8_t> bytes, TBitmap &into);
// Encodes a bitmap whole into memory. Throws Exception with the reason.
QByteArray EncodePicture(const TBitmap &bitmap, TPictureFileFormat format);

// Reads the named file into `into`; throws Exception naming the file.
void ReadPictureFile(const AnsiString &fileName, TBitmap &into);
// Writes the bitmap to the named file, replacing it only when complete;
// throws Exception naming the file.
void WritePictureFile(const AnsiString &fileName, const TBitmap &bitmap);

// Name filters for the open and save dialogs: "All pictures" first.
QStringList OpenPictureFilters();
QStringList SavePictureFilters();

// Reading and writing picture files: the format is chosen here, the bytes
// are made by the codecs (bmp_codec.h, qt_codec.h).
#pragma once

#include "platform/pictures/bitmap.h"

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

// Reads the named file (mapped, not copied) into `into`. On any failure it
// throws Exception `Cannot open "<native path>": <reason>` and `into` is
// unchanged.
void ReadPictureFile(const AnsiString &fileName, TBitmap &into);
// Encodes the bitmap whole in memory, in the format the name's extension
// names, then writes it beside the target and puts it in the target's place
// only when every byte is written; an existing device or pipe is written in
// place instead. On any failure it throws Exception
// `Cannot save "<native path>": <reason>`, an existing file keeps every byte
// and no other file is left behind.
void WritePictureFile(const AnsiString &fileName, const TBitmap &bitmap);

// Name filters for the open and save dialogs: "All pictures" first.
QStringList OpenPictureFilters();
QStringList SavePictureFilters();

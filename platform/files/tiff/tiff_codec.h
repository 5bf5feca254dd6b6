// TIFF pictures of 8-bit grey or RGB samples in strips read through libtiff
// straight into the bitmap's rows, so that opening one takes the file and the
// picture alone; every other TIFF goes to Qt's reader.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// Whether the bytes start as a TIFF does ("II*\0" or "MM\0*").
bool LooksLikeTiff(std::span<const std::uint8_t> bytes);

// Decodes a TIFF's first picture into pf8bit with the grey palette (8-bit
// grey, 0 black) or pf24bit (8-bit RGB), row by row, when it is stored in
// strips, its samples interleaved, upright and without extra samples;
// anything else through Qt's reader. The pixels are Qt's reading's. A row
// the decoder cannot give (its strip's data ends early or is damaged, or
// lies past the byte count of an uncompressed strip) is missing with the
// rest of its strip (opening_limits.h); a TIFF left to Qt whose
// uncompressed data is shorter than its strips or tiles take is refused as
// damaged, as Qt would read on past it.
TRowsMissing DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes through libtiff in the forms Qt's writer gave (so that every
// pixel reads back as it did): black-and-white pictures in 1 bit, grey
// ramps as 8-bit grey, other palettes as 8-bit indices with a colour map,
// translucent pictures as 16-bit RGBA with alpha not premultiplied, the
// rest as 8-bit RGB; strips of about 4 MiB compressed as the format says
// (LZW). With the metadata to save: the resolution (96 dots an inch where
// there is none, as TIFF needs one), the ICC profile of the pixels' space,
// the XMP, the notes as the description, and the EXIF's fields and
// directories (tiff_directories.h), in the EXIF's byte order. Throws
// Exception when the picture is empty or libtiff fails.
QByteArray EncodeTiff(const TBitmap &bitmap, const TPictureFileFormatInfo &format);

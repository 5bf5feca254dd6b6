// TIFF pictures of every layout libtiff reads, decoded through it a strip
// or tile at a time straight into the bitmap's rows.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/files/file_source.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <span>

// Whether the bytes start as a TIFF does ("II*\0" or "MM\0*").
bool LooksLikeTiff(std::span<const std::uint8_t> bytes);

// Decodes a TIFF's first picture, turned upright as its Orientation tag
// says:
//  - grey (black or white as 0) of 1 bit into pf1bit, of 2 to 16 bits or
//    floating point into pf8bit with the grey palette;
//  - a palette of 1 bit into pf1bit, of 2 to 8 bits into pf8bit, with its
//    colours;
//  - RGB, CMYK (through the file's ICC profile where it has one, else each
//    ink taken away from white) and YCbCr compressed as JPEG into pf24bit;
//  - any of these with an alpha sample (associated or not) into pf32bit
//    with alpha, not premultiplied;
//  - every other photometric libtiff turns into RGBA (CIE L*a*b*, LogLuv,
//    YCbCr uncompressed...) through that conversion, into pf24bit (pf32bit
//    with alpha).
// Strips or tiles, interleaved samples or planes apart, any integer depth
// up to 16 bits, 32-bit integers and 32- or 64-bit floating point (0 to 1);
// deeper samples are rounded to 8 bits. The colour profile goes into the
// picture's metadata (a CMYK picture, turned into sRGB, carries none).
// A strip or tile the decoder cannot give (its data ends early or is
// damaged) leaves the rows it holds missing (opening_limits.h); rows of
// uncompressed strips lie within each strip's stated byte count and before
// the directory, uncompressed tiles within theirs. The memory is checked
// before anything is allocated: the file, the picture, a compressed strip
// or tile and what it decodes into (a strip or tile of every plane), and a
// second picture where the orientation swaps rows and columns. A
// TPictureReader (picture_codecs.h).
TRowsMissing DecodeTiff(std::span<const std::uint8_t> bytes, TBitmap &into);

// Reads a regular TIFF file as DecodeTiff does, from where its pieces lie
// (TFileSource::ReadAt): its strips or tiles a piece at a time, never the
// file whole, so that opening takes the picture and a strip or tile
// besides, whatever the file's size. The same pixels and refusals as
// DecodeTiff; a file that changes while it is read is refused. Every
// TIFF is read so.
std::optional<TRowsMissing> ReadTiffStraight(TFileSource &source, TBitmap &into);

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

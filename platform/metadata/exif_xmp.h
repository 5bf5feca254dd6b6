// EXIF and XMP through Exiv2: whether a piece can be read, the orientation
// it states, and the piece to write with a saved picture.
//
// Exiv2 reads what it can of a damaged piece and leaves out the rest; a
// piece of which it reads no field at all, or that it refuses, counts as
// unreadable here, and so does one above the sizes below. Nothing here
// throws, prints or keeps Exiv2's messages; a piece is always read whole
// from memory, and what is written is made afresh from what was read,
// never copied from the piece.
#pragma once

#include "platform/pictures/picture_metadata.h"

#include <QByteArray>

#include <optional>

// The largest pieces read. EXIF fits 64 KiB in a JPEG file, where nearly
// all of it is made; XMP takes Exiv2 about a second a few MiB.
constexpr qsizetype MaxExifBytes = qsizetype(512) << 10;
constexpr qsizetype MaxXmpBytes = qsizetype(2) << 20;

bool ExifReadable(const QByteArray &exif);
bool XmpReadable(const QByteArray &xmp);

// The orientation (1..8, as EXIF numbers it) the piece states; absent
// where it states none, or another number, or cannot be read.
std::optional<int> ExifOrientation(const QByteArray &exif);
std::optional<int> XmpOrientation(const QByteArray &xmp);

// The resolution the piece states (XResolution, YResolution and
// ResolutionUnit, inches where it names none); absent where it states
// none, or one not above 0, or cannot be read.
std::optional<TResolution> ExifResolution(const QByteArray &exif);

// What the fields that describe the pixels are to say of a saved picture.
struct TSavedPicture {
    int width = 0;
    int height = 0;
    std::optional<TResolution> resolution;
};

// The EXIF to write with a saved picture, in the piece's byte order:
// Orientation 1 (where the piece has one), PixelXDimension and
// PixelYDimension the saved picture's, the resolution the saved one
// (where it has one), and no thumbnail (the second directory and what it
// points to are left out). The colour profile and XMP a TIFF directory
// may hold are left out too: they travel as pieces of their own. Empty
// when the piece is unreadable.
QByteArray ExifForSaving(const QByteArray &exif, const TSavedPicture &picture);

// EXIF made afresh for a saved picture that carries none, for a format
// that states its resolution there alone: the resolution, the pixel
// dimensions, and Orientation 1; little-endian. Empty without a resolution.
QByteArray ExifStatingResolution(const TSavedPicture &picture);

// The XMP packet to write with a saved picture: tiff:Orientation 1, and
// the pixel dimensions (exif:PixelXDimension, exif:PixelYDimension,
// tiff:ImageWidth, tiff:ImageLength) and resolution (tiff:XResolution,
// tiff:YResolution, tiff:ResolutionUnit) the saved picture's, each where
// the packet has it; thumbnails (xmp:Thumbnails) left out. Empty when the
// packet is unreadable.
QByteArray XmpForSaving(const QByteArray &xmp, const TSavedPicture &picture);

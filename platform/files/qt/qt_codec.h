// Pictures in the formats Qt's image plugins read and write: the reader and
// the writer that the table of codecs (picture_codecs.h) names for them.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// Decodes with Qt's readers (GIF, ICO, TIFF and WebP our readers leave,
// JPEG of four channels, and whatever else the installed plugins read) into
// the smallest form that holds the pixels exactly, as BitmapFromQImage
// (qt_image_bridge.h) describes, turned upright as a photograph's
// orientation tag says. A picture whose header gives a size beyond
// TBitmap::MaxPixelBytes is refused before any pixel is allocated, and so
// is one that Qt's plugin would decode in more memory than twice our
// bitmap's bytes and 256 MiB (a GIF in 32 bits a pixel, say): the message
// gives its size and the memory. A GIF, which Qt gives in 32-bit form, comes
// back as pf8bit with the file's own colour table when its colours are all
// opaque. Qt's readers give a whole picture or none, so no rows are ever
// missing: files they would fill in where the data ends (a JPEG without its
// end marker, a GIF whose first image is cut off) are refused as damaged.
// Throws Exception with a plain reason (no file name) when the bytes are
// not a picture it reads, are damaged or incomplete, or are too large, as
// a TPictureReader (picture_codecs.h).
TRowsMissing DecodeWithQt(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes with Qt's writer for the format, with the format's quality and
// compression. PNG, TIFF and ICO keep every pixel and alpha value; WebP is
// written lossless and keeps every pixel that is not fully transparent (its
// encoder drops the colour under alpha 0); JPEG is written at quality 95;
// PGM is grey, PBM black and white, PPM colour without alpha. Throws
// Exception with the reason when the picture is empty, larger than the
// format's side limit, or the writer fails.
QByteArray EncodeWithQt(const TBitmap &bitmap, const TPictureFileFormatInfo &format);

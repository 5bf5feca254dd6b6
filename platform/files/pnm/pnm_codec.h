// PBM, PGM and PPM pictures, plain (ASCII) and binary, read straight into
// the bitmap's rows, so that opening one takes the file and the picture
// alone, whatever its size up to the bitmap's own limit: every picture this
// program writes in these formats opens again.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// Whether the bytes start as a PBM, PGM or PPM file does: "P1" to "P6",
// then white space or a comment.
bool LooksLikePnm(std::span<const std::uint8_t> bytes);

// Decodes a PBM (P1, P4) into pf1bit, white then black in its palette and
// each pixel's bit as the file has it (1 is black); a PGM (P2, P5) into
// pf8bit with the grey palette; a PPM (P3, P6) into pf24bit. Samples are
// scaled from the file's maximum value (1 to 65535; two bytes big-endian
// in binary files above 255) to 0..255, rounded to the nearest; a sample
// above the maximum counts as the maximum. Binary files of maximum 255 give
// Qt's reading's pixels. Comments may stand wherever white space may. The
// size is checked against TBitmap::MaxPixelBytes and the opening memory
// before any pixel is allocated. Data that ends early gives the rows it
// holds (opening_limits.h). Throws Exception with a plain reason when the
// header is not one or the data holds other characters than its numbers.
TRowsMissing DecodePnm(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes with Qt's writer for the format (qt_codec.h), with the picture's
// notes as comment lines after the first line ("P6"), one line a line of
// a note's text; the header is all PBM, PGM and PPM can hold besides the
// pixels.
QByteArray EncodePnm(const TBitmap &bitmap, const TPictureFileFormatInfo &format);

// JPEG pictures through libjpeg-turbo: reading straight into the bitmap's
// rows, and writing from them in parts on every core.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// Whether the bytes start as a JPEG stream does (a start-of-image marker).
bool LooksLikeJpeg(std::span<const std::uint8_t> bytes);

// Decodes a JPEG: a grey one into pf8bit with the palette giving index i the
// grey level i, a colour one into pf24bit, turned upright as its orientation
// tag (EXIF) says. CMYK and YCCK pictures go through Qt's reader. Before
// any pixel is allocated, the size in the header is checked against
// TBitmap::MaxPixelBytes; a Huffman-coded file whose data is too small for
// the blocks the header claims (at least 1 bit a block in a progressive
// file, 2 in a sequential one) is refused; and the memory is checked, a
// progressive file's (or one whose colours come in scans of their own)
// counting the coefficients of all its scans, 2 bytes a sample besides the
// picture. Data that ends early (at the end marker or the end of the file,
// inside a scan) gives the rows every scan reached (opening_limits.h).
// Throws Exception with a plain reason (no file name) when the stream is
// damaged or too large, as a TPictureReader (picture_codecs.h).
TRowsMissing DecodeJpeg(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes at the format's quality, with 4:2:0 chroma and the accurate DCT.
// A pf8bit, pf4bit or pf1bit picture whose palette entries are all grey is
// written as a grey JPEG of the entries' levels; every other picture in
// colour, alpha ignored. Bands of whole rows of blocks are encoded on every
// core and joined by restart markers into one file, which decodes to the
// pixels one pass over all the rows gives; progress is reported and a
// cancel taken between bands. Throws Exception with the reason when the
// picture is empty, wider or taller than the format's largest side, or the
// encoder fails.
QByteArray EncodeJpeg(const TBitmap &bitmap, const TPictureFileFormatInfo &format);

// Our own BMP reader and writer: the program's native picture form.
#pragma once

#include "platform/files/file_sink.h"
#include "platform/files/file_source.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <span>

// True when the bytes start with the BMP signature "BM".
bool LooksLikeBmp(std::span<const std::uint8_t> bytes);

// Decodes a BMP file held in memory into `into`, keeping its pixels and
// palette exactly (see bitmap.h for the forms it takes). Every header field
// is checked before anything is allocated. Pixels that the file does not
// define (skipped by RLE, or missing from a short file) are index 0 or
// black. Throws Exception with the reason when the file cannot be read.
// Gives how many rows the file lacked because it ends early.
TRowsMissing DecodeBmp(std::span<const std::uint8_t> bytes, TBitmap &into);

// Reads a regular BMP file straight into `into`: its headers into memory,
// then its pixels into the bitmap's rows (TFileSource::ReadInto), each
// byte copied once, and changed in place where the pixel format needs it. The same pixels
// and the same refusals as DecodeBmp. None, with only the file's start
// read, when its rows are not ones to read so (compressed, of another form
// than the bitmap's, or fewer than the header claims): the caller reads it
// whole.
std::optional<TRowsMissing> ReadBmpStraight(TFileSource &file, TBitmap &into);

// Encodes a bitmap as a BMP file in its own bit depth and palette. Throws
// Exception for an empty picture or one too large for the format.
QByteArray EncodeBmp(const TBitmap &bitmap);
// The size of that file, and the file written into a buffer of exactly
// that size, whatever the buffer held: every byte is written.
std::size_t BmpFileBytes(const TBitmap &bitmap);
void EncodeBmpInto(const TBitmap &bitmap, std::span<std::uint8_t> file);
// The same file written into `file` as it is encoded: the rows that the
// file holds as the bitmap does straight from the bitmap, the others
// encoded a few MiB at a time. Refuses what EncodeBmp refuses before
// TFileSink::Begin.
void WriteBmpStraight(const TBitmap &bitmap, TFileSink &file);

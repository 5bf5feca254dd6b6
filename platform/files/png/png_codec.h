// PNG pictures: read through libspng straight into the bitmap's rows,
// written by our own encoder that compresses strips of rows on every core.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// Whether the bytes start with the PNG signature.
bool LooksLikePng(std::span<const std::uint8_t> bytes);

// Decodes a PNG into the smallest form that holds its pixels exactly, row by
// row, with 16-bit samples rounded to 8 bits (round(v * 255 / 65535)):
//  - any pixel with alpha below 255 (alpha channel, or tRNS): pf32bit;
//  - 1-bit grey: pf1bit, palette white then black (index = inverted sample);
//    1-bit palette: pf1bit with the file's colours;
//  - other grey: pf8bit whose palette gives index i the grey level i;
//  - other palettes: pf8bit with the file's indices and colours, or the grey
//    form when every colour is grey (indices past the palette read black);
//  - everything else: pf24bit.
// No gamma or colour-space conversion is applied. The header's size is
// checked against TBitmap::MaxPixelBytes, and the memory decoding takes
// against CheckOpeningMemory (opening_limits.h), before any pixel is allocated; a
// side of more than a million pixels is refused as damaged, as libpng does.
// Pixels that may carry alpha are kept in their opaque form until a
// translucent one turns up, so an opaque picture never takes both forms.
// A file whose data chunks hold too few bytes for the rows it claims (a
// deflate stream gives at most 1032 bytes a byte) is refused before any
// pixel is allocated. Data that ends early, in a file cut off or with too
// few rows, gives the rows from the top that every pass reached
// (opening_limits.h). Throws Exception with a plain reason (no file name)
// when the data is damaged (a bad checksum of a critical chunk, a damaged
// stream) or too large, as a TPictureReader (picture_codecs.h).
TRowsMissing DecodePng(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes every pixel exactly: pf1bit and pf4bit as 1- and 4-bit palettes,
// pf8bit as grey when its palette is the grey ramp (index i is level i),
// else as an 8-bit palette of 256 colours; pf15bit, pf16bit and pf24bit as
// 8-bit RGB (5- and 6-bit channels widened as bitmap.h states); pf32bit as
// RGBA when any alpha is below 255, else RGB. Strips of rows are filtered
// and compressed on every core and joined into one zlib stream. Throws
// Exception when the picture is empty.
QByteArray EncodePng(const TBitmap &bitmap);

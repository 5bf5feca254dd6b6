// Still WebP pictures decoded through libwebp straight into the bitmap's
// rows, so that opening one takes the file, the picture and (lossless) the
// decoder's own pixels; an animated WebP goes to Qt's reader.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/pictures/bitmap.h"

#include <QByteArray>

#include <cstdint>
#include <span>

// Whether the bytes start as a WebP file does ("RIFF", a size, "WEBP").
bool LooksLikeWebp(std::span<const std::uint8_t> bytes);

// Decodes a still WebP, lossy or lossless, into pf24bit, or pf32bit with
// alpha where the file has an alpha channel (not premultiplied), a piece of
// the file at a time (so that it reports progress and can be cancelled);
// an animated one through Qt's reader. The pixels are Qt's reading's.
// Data that ends early gives the rows the decoder gave (opening_limits.h);
// damaged data is refused as damaged.
TRowsMissing DecodeWebp(std::span<const std::uint8_t> bytes, TBitmap &into);

// Encodes as Qt's writer did (its pixels, R, G and B of 8 bits, with alpha
// where a pixel is translucent; lossless at quality 100, keeping every
// pixel that is not fully transparent, as libwebp drops the colour under
// alpha 0), with the metadata to save in chunks of its own. The encoder
// reports its progress and can be cancelled. Throws Exception when the
// picture is empty, larger than WebP's side limit, or the encoder fails.
QByteArray EncodeWebp(const TBitmap &bitmap, const TPictureFileFormatInfo &format);

// Checks of picture containers that Qt's readers do not make, written by
// hand over the file's bytes: PBM/PGM/PPM headers, the JPEG end marker and scans,
// the structure of a GIF and the frame size of an MNG.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QList>
#include <QRgb>
#include <QSize>

#include <cstdint>
#include <span>

// Width and height from a PBM/PGM/PPM header, or an invalid size when the
// header is not one or gives a number beyond INT_MAX.
QSize PnmHeaderSize(std::span<const std::uint8_t> bytes);
// The smallest of our formats that holds a PBM/PGM/PPM file's pixels; the
// bytes start with a valid header.
TPixelFormat PnmFormat(std::span<const std::uint8_t> bytes);

// What a walk over a JPEG stream's segments finds: whether it reaches the
// end-of-image marker, and the scans before it.
struct TJpegOutline {
    bool complete = false;
    int scans = 0;
};
TJpegOutline OutlineOfJpeg(std::span<const std::uint8_t> bytes);

// A progressive file has every scan read before its first row, each a pass
// over the whole picture. Real files have a few dozen; a crafted one can
// repeat an empty scan without end and keep a reader busy for hours.
inline constexpr int MaxJpegScans = 1000;
QString TooManyJpegScans();

// A GIF's logical screen size (its picture's size, whatever the size of its
// frames), or an invalid size for fewer than 10 bytes.
QSize GifScreenSize(std::span<const std::uint8_t> bytes);

struct GifFirstImage {
    // Whether the first image's data is all there.
    bool complete = false;
    // Its colour table: the local one, else the global one, else none.
    QList<QRgb> colours;
};
GifFirstImage ReadGifStructure(std::span<const std::uint8_t> bytes);

// An MNG's frame size from its header chunk, which Qt's reader does not
// give before decoding; an invalid size when the bytes do not start with
// one or it gives a side of 0 (unstated) or beyond INT_MAX.
QSize MngFrameSize(std::span<const std::uint8_t> bytes);

// Checks of picture containers that Qt's readers do not make, written by
// hand over the file's bytes: PBM/PGM/PPM headers, the JPEG end marker,
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

// True when a JPEG stream ends before its end-of-image marker.
bool JpegIsIncomplete(std::span<const std::uint8_t> bytes);

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

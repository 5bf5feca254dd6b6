// Checks of picture containers that Qt's readers do not make, written by
// hand over the file's bytes: the JPEG end marker and scans, the structure
// of a GIF and the frame size of an MNG.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QList>
#include <QRgb>
#include <QSize>

#include <cstdint>
#include <span>

// What a walk over a JPEG stream's segments finds: whether it reaches the
// end-of-image marker, the scans before it, and the bytes of their
// entropy-coded data (restart markers and stuffed bytes included).
struct TJpegOutline {
    bool complete = false;
    int scans = 0;
    std::uint64_t entropyBytes = 0;
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

// The picture a reader decodes, from its start to the moment it replaces
// the caller's: the one way every reader starts and ends a picture.
//  - Nothing is allocated before the size the file claims and the memory
//    opening it takes are checked (opening_limits.h).
//  - The decoder writes into a picture of its own: a reader that throws,
//    or is cancelled, at any point leaves the caller's picture exactly as
//    it was.
//  - The caller's picture changes in one place, HandOver, which takes the
//    decoded pixels over without a copy.
#pragma once

#include "platform/files/file_formats.h"
#include "platform/pictures/bitmap.h"

#include <QString>

#include <cstdint>

class TDecodedPicture {
public:
    // `into` is the caller's picture; the format's name, from the table of
    // formats, is the one the memory and size messages give.
    TDecodedPicture(TBitmap &into, TPictureFileFormat format);
    // For a format Qt reads that the table lacks, named as messages write it.
    TDecodedPicture(TBitmap &into, QString formatName);
    TDecodedPicture(const TDecodedPicture &) = delete;
    TDecodedPicture &operator=(const TDecodedPicture &) = delete;

    const QString &FormatName() const { return formatName_; }

    // The start of a picture of width x height in `format`: refuses a size
    // the bitmap cannot hold (CheckPictureFits), then an opening that holds
    // more than its allowance when besidesBytes (the file's bytes, the
    // decoder's) are held beside the picture at its peak (CheckOpeningMemory,
    // whose message `why` ends); then allocates the picture, every pixel
    // zero. Gives the picture to decode into.
    TBitmap &Start(int width, int height, TPixelFormat format, std::uint64_t besidesBytes, const QString &why = {});
    // As Start, the memory left to the reader: counted before it decodes
    // where its peak comes first (HEIF) or counts two forms of the picture
    // (PNG); not counted for a baseline JPEG, which holds its file and the
    // picture alone.
    TBitmap &StartCounted(int width, int height, TPixelFormat format);
    // The picture being decoded. A reader whose pixels come otherwise (BMP's
    // rows straight from the file, Qt's images converted) allocates it
    // itself, a failure told as the bitmap tells it.
    TBitmap &Picture() { return picture_; }

    // The decoded picture replaces the caller's, taken over without a copy;
    // a cancel taken while it decoded ends here instead (ECancelled), the
    // caller's picture as it was. Gives `missing`, the rows the file lacked.
    TRowsMissing HandOver(TRowsMissing missing);

private:
    TBitmap &into_;
    QString formatName_;
    TBitmap picture_;
};

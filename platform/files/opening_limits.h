// What every reader checks and how it ends: how much memory opening a
// picture may take and whether the file can hold what its header claims,
// checked before it decodes (the start of a picture, decoded_picture.h,
// makes the usual checks); the allocation of a decoded picture; the reason
// given for data that cannot be decoded; and the rule for data that ends
// early.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QString>

#include <cstdint>

inline constexpr std::uint64_t MiBBytes = std::uint64_t(1) << 20;
// Bytes in whole MiB, rounded up.
constexpr std::uint64_t CeilMiB(std::uint64_t bytes) { return (bytes + MiBBytes - 1) / MiBBytes; }

// The bytes a picture of width x height takes in the given format.
inline std::uint64_t PictureBytes(int width, int height, TPixelFormat format)
{
    return TBitmap::RowBytes(width, format) * std::uint64_t(height);
}

// Throws Exception with TBitmap::TooLargeReason when a picture of width x
// height would not fit under TBitmap::MaxPixelBytes in the given format.
void CheckPictureFits(int width, int height, TPixelFormat format);

// The reason every reader gives for data it cannot decode.
inline QString DamagedData() { return QStringLiteral("the picture data is damaged or incomplete"); }

// Throws Exception, giving the size and the memory, when opening a picture
// of width x height would take openingBytes (all it holds at its peak: the
// file's bytes, the decoder's and the decoded picture's) while the picture
// takes pictureBytes: opening may
// take twice the picture's bytes and 256 MiB, the program's own included.
// formatName is as messages write it ("GIF"); `why`, when given, follows
// the message and says what takes the memory.
void CheckOpeningMemory(int width, int height, const QString &formatName, std::uint64_t openingBytes, std::uint64_t pictureBytes,
                        const QString &why = {});
// Whether opening may take openingBytes for a picture of pictureBytes, as
// CheckOpeningMemory counts: for a reader that can choose a way that takes less.
bool OpeningFits(std::uint64_t openingBytes, std::uint64_t pictureBytes);

// Allocates the decoded picture, its size checked before: a failure here
// is a lack of memory, and says so as every reader does.
void AllocateDecoded(TBitmap &bitmap, int width, int height, TPixelFormat format);

// Compressed data too small to hold the picture its header claims, even at
// the format's best compression (the least bytes a picture of that size
// can take), is a lie rather than a cut: the file is refused before
// anything is allocated. Throws Exception giving the size and both counts
// when dataBytes is below leastBytes.
void CheckDataCanHold(int width, int height, const QString &formatName, std::uint64_t dataBytes, std::uint64_t leastBytes);

// Data that ends early, one rule for every reader: the picture keeps the
// size its header gives and shows the rows the file holds. A row the data
// does not reach, or reaches only in part, is missing and keeps the zero
// bytes it was allocated with (black, or the palette's first colour): never
// a decoder's filler, nor bytes from outside the picture's data (BMP and
// PBM/PGM/PPM, whose bytes are pixels, show the whole pixels of a last row
// cut in two). What counts is what the decoder delivered, not the sizes the
// file states. The reader gives the rows missing with the picture, and the
// opening ends by saying how many (EPictureIncomplete, picture_files.h).
//
// The rows missing from `picture` when its first `held` rows are there;
// rows from `held` up to `filled`, which a decoder wrote beyond its data,
// are made zero again.
TRowsMissing RowsHeld(TBitmap &picture, int held, int filled = 0);
// The rows missing from a whole picture: none.
inline TRowsMissing WholePicture(const TBitmap &picture) { return {0, picture.GetHeight()}; }

// How much memory opening a picture may take, checked by every reader
// before it decodes, the allocation of the decoded picture, and the
// reason given for data that cannot be decoded.
#pragma once

#include "platform/pictures/bitmap.h"

#include <QString>

#include <cstdint>

inline constexpr std::uint64_t MiBBytes = std::uint64_t(1) << 20;
// Bytes in whole MiB, rounded up.
constexpr std::uint64_t CeilMiB(std::uint64_t bytes) { return (bytes + MiBBytes - 1) / MiBBytes; }

// Throws Exception with TBitmap::TooLargeReason when a picture of width x
// height would not fit under TBitmap::MaxPixelBytes in the given format.
void CheckPictureFits(int width, int height, TPixelFormat format);

// The reason every reader gives for data it cannot decode.
inline QString DamagedData() { return QStringLiteral("the picture data is damaged or incomplete"); }

// Throws Exception, giving the size and the memory, when opening a picture
// of width x height would take openingBytes (the file's bytes and the
// decoder's at its peak) while the picture takes pictureBytes: opening may
// take twice the picture's bytes and 256 MiB, the program's own included.
// formatName is as messages write it ("GIF").
void CheckOpeningMemory(int width, int height, const QString &formatName, std::uint64_t openingBytes, std::uint64_t pictureBytes);
// Whether opening may take openingBytes for a picture of pictureBytes, as
// CheckOpeningMemory counts: for a reader that can choose a way that takes less.
bool OpeningFits(std::uint64_t openingBytes, std::uint64_t pictureBytes);

// Allocates the decoded picture, its size checked before: a failure here
// is a lack of memory, and says so as every reader does.
void AllocateDecoded(TBitmap &bitmap, int width, int height, TPixelFormat format);

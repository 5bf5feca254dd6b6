// How much memory opening a picture may take.
#include "platform/files/opening_limits.h"

#include <algorithm>
#include <cstring>

namespace {

// What the rest of the program holds resident while a picture opens.
constexpr std::uint64_t ProgramBytes = 64 * MiBBytes;
// Opening a picture may take twice its bytes and this much more, the
// program's own memory included.
constexpr std::uint64_t OpeningAllowance = 256 * MiBBytes;

} // namespace

void CheckPictureFits(int width, int height, TPixelFormat format)
{
    if (width <= 0 || height <= 0) return;
    if (!TBitmap::SizeFits(width, height, format)) throw Exception(TBitmap::TooLargeReason(width, height, format));
}

void CheckOpeningMemory(int width, int height, const QString &formatName, std::uint64_t openingBytes, std::uint64_t pictureBytes,
                        const QString &why)
{
    if (OpeningFits(openingBytes, pictureBytes)) return;
    const std::uint64_t needed = ProgramBytes + openingBytes, allowed = 2 * pictureBytes + OpeningAllowance;
    const QString message = QStringLiteral("the picture is %1 x %2 pixels; opening this %3 picture would take about "
                                           "%4 MiB of memory, more than the %5 MiB this program allows for a picture of %6 MiB")
                                .arg(width).arg(height).arg(formatName)
                                .arg(CeilMiB(needed)).arg(allowed / MiBBytes).arg(CeilMiB(pictureBytes));
    throw Exception(why.isEmpty() ? message : message + QStringLiteral("; ") + why);
}

bool OpeningFits(std::uint64_t openingBytes, std::uint64_t pictureBytes)
{
    return ProgramBytes + openingBytes <= 2 * pictureBytes + OpeningAllowance;
}

void AllocateDecoded(TBitmap &bitmap, int width, int height, TPixelFormat format)
{
    try {
        bitmap.Allocate(width, height, format);
    } catch (const Exception &) {
        throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
    }
}

void CheckDataCanHold(int width, int height, const QString &formatName, std::uint64_t dataBytes, std::uint64_t leastBytes)
{
    if (dataBytes >= leastBytes) return;
    throw Exception(QStringLiteral("the header claims %1 x %2 pixels, but the file holds %3 bytes of picture data, "
                                   "and even the most compressed %4 picture of that size takes %5 bytes")
                        .arg(width).arg(height).arg(dataBytes).arg(formatName).arg(leastBytes));
}

TRowsMissing RowsHeld(TBitmap &picture, int held, int filled)
{
    const int rows = picture.GetHeight();
    held = std::clamp(held, 0, rows);
    for (int y = held; y < std::min(filled, rows); ++y) std::memset(picture.Row(y), 0, picture.BytesPerRow());
    return {rows - held, rows};
}

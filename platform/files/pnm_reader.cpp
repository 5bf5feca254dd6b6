// Reading binary PGM and PPM pictures of 8-bit samples straight into the
// bitmap's rows.
#include "platform/files/pnm_codec.h"

#include "platform/files/channel_order.h"
#include "platform/files/opening_limits.h"
#include "platform/files/qt_codec.h"
#include "platform/pictures/work_progress.h"

#include <cstring>
#include <optional>

namespace {

// Sides beyond this go to Qt's reader, which gives the reason.
constexpr int MaxSide = 32767;

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

struct Header {
    bool colour = false;
    int width = 0, height = 0, maxValue = 0;
    std::size_t dataAt = 0;
};

// The header's numbers, each after white space and comments ("#" to the end
// of the line); the data starts after the one white-space byte that ends the
// maximum value. None when a number is missing or out of range.
std::optional<Header> ReadHeader(std::span<const std::uint8_t> bytes)
{
    Header h;
    h.colour = bytes[1] == '6';
    std::size_t i = 2;
    int *const fields[] = {&h.width, &h.height, &h.maxValue};
    for (int *field : fields) {
        for (;;) {
            while (i < bytes.size() && IsSpace(bytes[i])) ++i;
            if (i < bytes.size() && bytes[i] == '#') {
                while (i < bytes.size() && bytes[i] != '\n' && bytes[i] != '\r') ++i;
                continue;
            }
            break;
        }
        long value = 0;
        const std::size_t start = i;
        while (i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9' && value <= MaxSide) value = value * 10 + (bytes[i++] - '0');
        if (i == start || value > MaxSide || i >= bytes.size() || !IsSpace(bytes[i])) return std::nullopt;
        *field = static_cast<int>(value);
    }
    h.dataAt = i + 1;
    return h;
}

} // namespace

bool LooksLikeBinaryPnm(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 3 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6') && IsSpace(bytes[2]);
}

void DecodePnm(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    const std::optional<Header> h = ReadHeader(bytes);
    if (!h || h->maxValue != 255 || h->width == 0 || h->height == 0) return DecodeWithQt(bytes, into);
    const TPixelFormat format = h->colour ? pf24bit : pf8bit;
    const std::size_t rowBytes = static_cast<std::size_t>(h->width) * (h->colour ? 3 : 1);
    const std::uint64_t pictureBytes = TBitmap::RowBytes(h->width, format) * std::uint64_t(h->height);
    CheckPictureFits(h->width, h->height, format);
    CheckOpeningMemory(h->width, h->height, QLatin1String(h->colour ? "PPM" : "PGM"), bytes.size() + pictureBytes, pictureBytes);
    if (bytes.size() - h->dataAt < rowBytes * static_cast<std::size_t>(h->height))
        throw Exception(DamagedData());

    TBitmap bitmap;
    AllocateDecoded(bitmap, h->width, h->height, format);
    if (!h->colour) bitmap.SetPalette(GreyLevels);
    const std::uint8_t *data = bytes.data() + h->dataAt;
    for (int y = 0; y < h->height; ++y) {
        const std::uint8_t *in = data + rowBytes * static_cast<std::size_t>(y);
        if (h->colour)
            SwapRedBlue24(in, bitmap.Row(y), static_cast<std::size_t>(h->width));
        else
            std::memcpy(bitmap.Row(y), in, rowBytes);
        if ((y & 63) == 63) ReportProgress(static_cast<std::uint64_t>(y) + 1, static_cast<std::uint64_t>(h->height));
    }
    into.TakeOver(bitmap);
}

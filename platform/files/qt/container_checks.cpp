// Hand-written checks of JPEG end markers and scans, GIF structure and MNG headers.
#include "platform/files/qt/container_checks.h"

#include "platform/files/jpeg_segments.h"

#include <QtEndian>

#include <climits>
#include <cstring>

// Qt's reader pads a cut-off stream with grey and reports success, so the
// end is looked for here; bytes before a marker are tolerated, as libjpeg
// does.
TJpegOutline OutlineOfJpeg(std::span<const std::uint8_t> bytes)
{
    TJpegOutline outline;
    TJpegSegments segments(bytes, TStrayBytes::Skip);
    while (const auto segment = segments.Next()) {
        if (segment->marker == TJpegMarker::Eoi) {
            outline.complete = true;
            break;
        }
        if (segment->marker != TJpegMarker::Sos) continue;
        ++outline.scans;
        outline.entropyBytes += segments.SkipEntropyCodedData();
    }
    return outline;
}

QString TooManyJpegScans()
{
    return QStringLiteral("it has more than %1 scans; real pictures have a few dozen, and each takes a pass over the whole picture").arg(MaxJpegScans);
}

namespace {

bool SkipSubBlocks(std::span<const std::uint8_t> bytes, std::size_t &i)
{
    while (i < bytes.size()) {
        const std::size_t length = bytes[i++];
        if (length == 0) return true;
        if (length > bytes.size() - i) return false;
        i += length;
    }
    return false;
}

QList<QRgb> GifColourTable(std::span<const std::uint8_t> bytes, std::size_t &i, std::uint8_t packed, bool &complete)
{
    if (!(packed & 0x80)) return {};
    const std::size_t entries = std::size_t(2) << (packed & 7);
    if (3 * entries > bytes.size() - i) {
        complete = false;
        return {};
    }
    QList<QRgb> colours(static_cast<qsizetype>(entries));
    for (std::size_t e = 0; e < entries; ++e, i += 3) colours[static_cast<qsizetype>(e)] = qRgb(bytes[i], bytes[i + 1], bytes[i + 2]);
    return colours;
}

} // namespace

QSize GifScreenSize(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 10) return {};
    return {bytes[6] | (bytes[7] << 8), bytes[8] | (bytes[9] << 8)};
}

// Qt's reader gives GIFs in 32-bit form and fills a cut-off image silently.
GifFirstImage ReadGifStructure(std::span<const std::uint8_t> bytes)
{
    GifFirstImage gif;
    if (bytes.size() < 13) return gif;
    std::size_t i = 13;
    bool complete = true;
    const QList<QRgb> global = GifColourTable(bytes, i, bytes[10], complete);
    while (complete && i < bytes.size()) {
        const std::uint8_t block = bytes[i++];
        if (block == 0x21) {
            // An extension: its label, then sub-blocks.
            ++i;
            complete = SkipSubBlocks(bytes, i);
        } else if (block == 0x2C) {
            if (bytes.size() - i < 10) return gif;
            const std::uint8_t packed = bytes[i + 8];
            i += 9;
            const QList<QRgb> local = GifColourTable(bytes, i, packed, complete);
            if (!complete || i >= bytes.size()) return gif;
            // The LZW code size, then the image data.
            ++i;
            gif.complete = SkipSubBlocks(bytes, i);
            gif.colours = local.isEmpty() ? global : local;
            return gif;
        } else {
            return gif;
        }
    }
    return gif;
}

QSize MngFrameSize(std::span<const std::uint8_t> bytes)
{
    static constexpr std::uint8_t Start[] = {0x8A, 'M', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 28, 'M', 'H', 'D', 'R'};
    if (bytes.size() < sizeof Start + 8 || std::memcmp(bytes.data(), Start, sizeof Start) != 0) return {};
    const std::uint32_t width = qFromBigEndian<std::uint32_t>(bytes.data() + sizeof Start);
    const std::uint32_t height = qFromBigEndian<std::uint32_t>(bytes.data() + sizeof Start + 4);
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX) return {};
    return {static_cast<int>(width), static_cast<int>(height)};
}

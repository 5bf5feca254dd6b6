// What a JPEG file carries besides its pixels: its segments read, and written.
#include "platform/files/jpeg/jpeg_metadata.h"

#include "platform/files/jpeg_segments.h"
#include "platform/metadata/file_metadata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Bytes a segment's payload can take: its length counts its own 2 bytes.
constexpr std::size_t MaxPayload = 65533;

constexpr char ExifMarker[] = "Exif\0\0";
constexpr char XmpMarker[] = "http://ns.adobe.com/xap/1.0/";
constexpr char IccMarker[] = "ICC_PROFILE";
// The identifiers with their NULs: "Exif" and a pad byte, the XMP and ICC
// names and theirs.
constexpr std::size_t ExifMarkerBytes = 6, XmpMarkerBytes = sizeof XmpMarker, IccMarkerBytes = sizeof IccMarker;
// The ICC identifier, then the chunk's number and the count of chunks.
constexpr std::size_t IccHeaderBytes = IccMarkerBytes + 2;
constexpr std::size_t MaxIccChunk = MaxPayload - IccHeaderBytes;
constexpr std::size_t MaxIccChunks = 255;

bool StartsWith(std::span<const std::uint8_t> payload, const char *marker, std::size_t bytes)
{
    return payload.size() >= bytes && std::memcmp(payload.data(), marker, bytes) == 0;
}

QByteArray Copy(std::span<const std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

std::optional<TResolution> JfifResolution(std::span<const std::uint8_t> payload)
{
    // "JFIF\0", version (2), unit, horizontal and vertical density (2 each).
    if (!StartsWith(payload, "JFIF", 5) || payload.size() < 12) return std::nullopt;
    const double horizontal = payload[8] << 8 | payload[9], vertical = payload[10] << 8 | payload[11];
    switch (payload[7]) {
    case 0:
        // Writers that know nothing of the resolution put 1:1.
        if (horizontal == vertical) return std::nullopt;
        return TResolution{horizontal, vertical, TResolutionUnit::None};
    case 1: return TResolution{horizontal, vertical, TResolutionUnit::Inch};
    case 2: return TResolution{horizontal, vertical, TResolutionUnit::Centimetre};
    default: return std::nullopt;
    }
}

// The profile of the ICC chunks: each of 1..count there once, within MaxProfileBytes.
QByteArray JoinedProfile(const std::vector<std::span<const std::uint8_t>> &chunks, const std::vector<int> &numbers, int count)
{
    if (count == 0 || static_cast<int>(chunks.size()) != count) return {};
    std::vector<std::span<const std::uint8_t>> ordered(static_cast<std::size_t>(count));
    std::size_t total = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const int number = numbers[i];
        if (number < 1 || number > count || !ordered[static_cast<std::size_t>(number - 1)].empty()) return {};
        ordered[static_cast<std::size_t>(number - 1)] = chunks[i];
        total += chunks[i].size();
    }
    if (total == 0 || total > static_cast<std::size_t>(MaxProfileBytes)) return {};
    QByteArray profile;
    profile.reserve(static_cast<qsizetype>(total));
    for (const auto &chunk : ordered) profile.append(reinterpret_cast<const char *>(chunk.data()), static_cast<qsizetype>(chunk.size()));
    return profile;
}

void PutSegment(QByteArray &out, TJpegMarker marker, const char *identifier, std::size_t identifierBytes, const char *data, std::size_t bytes)
{
    const std::size_t length = 2 + identifierBytes + bytes;
    const char head[4] = {'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
    out.append(head, 4);
    out.append(identifier, static_cast<qsizetype>(identifierBytes));
    out.append(data, static_cast<qsizetype>(bytes));
}

// A value as a whole number within JFIF's 16 bits, or 0.
std::uint16_t Density(double value)
{
    const double rounded = std::round(value);
    return rounded >= 1 && rounded <= 65535 ? static_cast<std::uint16_t>(rounded) : 0;
}

} // namespace

TPictureMetadata JpegMetadata(std::span<const std::uint8_t> file)
{
    TPictureMetadata found;
    TCommentRoom room;
    std::vector<std::span<const std::uint8_t>> iccChunks;
    std::vector<int> iccNumbers;
    int iccCount = 0;
    bool iccDamaged = false;
    std::size_t iccBytes = 0;
    TJpegSegments segments(file, TStrayBytes::End);
    // What follows the first scan's header is pixels.
    for (auto segment = segments.Next(); segment && segment->marker != TJpegMarker::Sos && segment->marker != TJpegMarker::Eoi;
         segment = segments.Next()) {
        const TJpegMarker marker = segment->marker;
        const std::span<const std::uint8_t> payload = segment->payload;
        if (marker == TJpegMarker::App0 && !found.resolution) {
            found.resolution = JfifResolution(payload);
        } else if (marker == TJpegMarker::App1 && found.exif.isEmpty() && StartsWith(payload, ExifMarker, ExifMarkerBytes)) {
            found.exif = ExifPayload(payload);
        } else if (marker == TJpegMarker::App1 && found.xmp.isEmpty() && StartsWith(payload, XmpMarker, XmpMarkerBytes)) {
            found.xmp = Copy(payload.subspan(XmpMarkerBytes));
        } else if (marker == TJpegMarker::App2 && StartsWith(payload, IccMarker, IccMarkerBytes) && !iccDamaged) {
            if (payload.size() < IccHeaderBytes) {
                iccDamaged = true;
            } else {
                const int count = payload[IccMarkerBytes + 1];
                iccDamaged = (iccCount != 0 && count != iccCount) || iccChunks.size() >= MaxIccChunks;
                iccCount = count;
                iccBytes += payload.size() - IccHeaderBytes;
                // Chunks past the largest profile used are not kept.
                iccDamaged = iccDamaged || iccBytes > static_cast<std::size_t>(MaxProfileBytes);
                iccChunks.push_back(payload.subspan(IccHeaderBytes));
                iccNumbers.push_back(payload[IccMarkerBytes]);
            }
        } else if (marker == TJpegMarker::Com) {
            room.Keep(found, QString(), NoteText(payload));
        }
    }
    if (!iccDamaged) found.colourProfile = JoinedProfile(iccChunks, iccNumbers, iccCount);
    return found;
}

TJfifDensity JfifDensity(const std::optional<TResolution> &resolution)
{
    if (!resolution || !resolution->Usable()) return {};
    TResolution stated = resolution->InInchesOrCentimetres();
    if (stated.unit == TResolutionUnit::None) {
        // A ratio keeps its proportion within 16 bits.
        const double scale = std::max(1.0, std::max(stated.horizontal, stated.vertical) / 65535);
        stated.horizontal /= scale, stated.vertical /= scale;
    }
    const std::uint16_t horizontal = Density(stated.horizontal), vertical = Density(stated.vertical);
    if (horizontal == 0 || vertical == 0) return {};
    const std::uint8_t unit = stated.unit == TResolutionUnit::Inch ? 1 : stated.unit == TResolutionUnit::Centimetre ? 2 : 0;
    return {unit, horizontal, vertical};
}

QByteArray JpegMetadataSegments(const TPictureMetadata &saved, TProfileSpace pixels)
{
    QByteArray out;
    if (!saved.exif.isEmpty() && static_cast<std::size_t>(saved.exif.size()) <= MaxPayload - ExifMarkerBytes)
        PutSegment(out, TJpegMarker::App1, ExifMarker, ExifMarkerBytes, saved.exif.constData(), static_cast<std::size_t>(saved.exif.size()));
    if (!saved.xmp.isEmpty() && static_cast<std::size_t>(saved.xmp.size()) <= MaxPayload - XmpMarkerBytes)
        PutSegment(out, TJpegMarker::App1, XmpMarker, XmpMarkerBytes, saved.xmp.constData(), static_cast<std::size_t>(saved.xmp.size()));
    const QByteArray &profile = saved.colourProfile;
    const std::size_t chunks = (static_cast<std::size_t>(profile.size()) + MaxIccChunk - 1) / MaxIccChunk;
    if (!profile.isEmpty() && chunks <= MaxIccChunks && PictureProfileSpace(profile) == pixels) {
        for (std::size_t i = 0; i < chunks; ++i) {
            char identifier[IccHeaderBytes];
            std::memcpy(identifier, IccMarker, IccMarkerBytes);
            identifier[IccMarkerBytes] = static_cast<char>(i + 1);
            identifier[IccMarkerBytes + 1] = static_cast<char>(chunks);
            const std::size_t from = i * MaxIccChunk, bytes = std::min(MaxIccChunk, static_cast<std::size_t>(profile.size()) - from);
            PutSegment(out, TJpegMarker::App2, identifier, IccHeaderBytes, profile.constData() + from, bytes);
        }
    }
    for (const TTextComment &comment : saved.comments) {
        const QByteArray text = KeylessComment(comment).toUtf8();
        // A long note takes as many segments as it needs.
        for (qsizetype from = 0; from < text.size(); from += qsizetype(MaxPayload))
            PutSegment(out, TJpegMarker::Com, "", 0, text.constData() + from, std::min<std::size_t>(MaxPayload, static_cast<std::size_t>(text.size() - from)));
    }
    return out;
}

// What a GIF file carries besides its pixels: its comment and application extensions.
#include "platform/files/gif/gif_metadata.h"

#include "platform/metadata/colour_profiles.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr std::uint8_t Extension = 0x21, Image = 0x2C, Trailer = 0x3B;
constexpr std::uint8_t CommentLabel = 0xFE, ApplicationLabel = 0xFF;

// The data of the sub-blocks from `at`, joined, where they end before the
// file does and take at most `most` bytes; `at` then follows them. Else
// none, `at` past them where they end before the file does.
std::optional<QByteArray> SubBlocks(std::span<const std::uint8_t> file, std::size_t &at, qsizetype most)
{
    QByteArray data;
    bool fits = true;
    while (at < file.size()) {
        const std::size_t size = file[at++];
        if (size == 0) return fits ? std::optional<QByteArray>(data) : std::nullopt;
        if (size > file.size() - at) break;
        fits = fits && data.size() + qsizetype(size) <= most;
        if (fits) data.append(reinterpret_cast<const char *>(file.data() + at), static_cast<qsizetype>(size));
        at += size;
    }
    at = file.size();
    return std::nullopt;
}

// The colour table after a descriptor whose packed byte says it has one.
void SkipColourTable(std::span<const std::uint8_t> file, std::size_t &at, std::uint8_t packed)
{
    if (packed & 0x80) at = std::min(file.size(), at + 3 * (std::size_t(2) << (packed & 7)));
}

} // namespace

TPictureMetadata GifMetadata(std::span<const std::uint8_t> file)
{
    TPictureMetadata found;
    TCommentRoom room;
    if (file.size() < 13) return found;
    std::size_t at = 13;
    SkipColourTable(file, at, file[10]);
    bool profileSeen = false, xmpSeen = false;
    while (at < file.size()) {
        const std::uint8_t block = file[at++];
        if (block == Trailer) break;
        if (block == Image) {
            // The descriptor, its colour table, the code size, then the data.
            if (file.size() - at < 10) break;
            const std::uint8_t packed = file[at + 8];
            at += 9;
            SkipColourTable(file, at, packed);
            ++at;
            SubBlocks(file, at, 0);
            continue;
        }
        if (block != Extension || at >= file.size()) break;
        const std::uint8_t label = file[at++];
        if (label == CommentLabel) {
            if (const std::optional<QByteArray> text = SubBlocks(file, at, room.Left())) {
                const auto bytes = reinterpret_cast<const std::uint8_t *>(text->constData());
                room.Keep(found, QString(), NoteText({bytes, static_cast<std::size_t>(text->size())}));
            }
            continue;
        }
        // An application's name and code come in a first sub-block of 11 bytes.
        const bool named = label == ApplicationLabel && file.size() - at >= 12 && file[at] == 11;
        const auto is = [&](const char *name) { return named && std::memcmp(file.data() + at + 1, name, 11) == 0; };
        if (is("ICCRGBG1012") && !profileSeen) {
            profileSeen = true;
            at += 12;
            found.colourProfile = SubBlocks(file, at, MaxProfileBytes).value_or(QByteArray());
        } else if (is("XMP DataXMP") && !xmpSeen) {
            xmpSeen = true;
            at += 12;
            // The packet's bytes stand as they are, ended by a trailer of
            // 258 bytes that a reader of sub-blocks runs through to their end.
            const std::uint8_t start[] = {0x01, 0xFF, 0xFE};
            const auto end = std::search(file.begin() + static_cast<std::ptrdiff_t>(at), file.end(), std::begin(start), std::end(start));
            const std::size_t bytes = static_cast<std::size_t>(end - (file.begin() + static_cast<std::ptrdiff_t>(at)));
            if (end != file.end() && bytes <= static_cast<std::size_t>(MaxXmpBytes))
                found.xmp = QByteArray(reinterpret_cast<const char *>(file.data() + at), static_cast<qsizetype>(bytes));
            SubBlocks(file, at, 0);
        } else {
            SubBlocks(file, at, 0);
        }
    }
    return found;
}

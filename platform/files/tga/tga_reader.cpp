// Reading TGA pictures, plain or run-length coded.
#include "platform/files/tga/tga_codec.h"

#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/reader_metadata.h"
#include "platform/base/work_progress.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

enum class TTgaKind { ColourMapped = 1, Colour = 2, Grey = 3 };

struct TTgaHeader {
    std::size_t idLength = 0;
    bool hasMap = false;
    TTgaKind kind = TTgaKind::Colour;
    bool runLengths = false;
    int mapFirst = 0, mapLength = 0, mapBits = 0;
    int width = 0, height = 0, pixelBits = 0;
    int alphaBits = 0;
    bool fromTop = false, fromRight = false;
};

int Little16(std::span<const std::uint8_t> bytes, std::size_t at) { return bytes[at] | bytes[at + 1] << 8; }

std::optional<TTgaHeader> HeaderOf(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 18) return std::nullopt;
    TTgaHeader h;
    h.idLength = bytes[0];
    if (bytes[1] > 1) return std::nullopt;
    h.hasMap = bytes[1] == 1;
    const int type = bytes[2];
    if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return std::nullopt;
    h.kind = static_cast<TTgaKind>(type & 7);
    h.runLengths = type & 8;
    h.mapFirst = Little16(bytes, 3);
    h.mapLength = Little16(bytes, 5);
    h.mapBits = bytes[7];
    h.width = Little16(bytes, 12);
    h.height = Little16(bytes, 14);
    h.pixelBits = bytes[16];
    h.alphaBits = bytes[17] & 0x0F;
    h.fromRight = bytes[17] & 0x10;
    h.fromTop = bytes[17] & 0x20;
    if (h.width == 0 || h.height == 0 || (bytes[17] & 0xC0)) return std::nullopt;
    // A colour map where the type uses one, of a depth it takes; none stated
    // (all zero) otherwise.
    if (h.kind == TTgaKind::ColourMapped) {
        if (!h.hasMap || h.pixelBits != 8 || h.mapLength == 0 || (h.mapBits != 15 && h.mapBits != 16 && h.mapBits != 24 && h.mapBits != 32))
            return std::nullopt;
    } else if (h.hasMap ? (h.mapBits != 15 && h.mapBits != 16 && h.mapBits != 24 && h.mapBits != 32) : (h.mapFirst || h.mapLength || h.mapBits)) {
        return std::nullopt;
    }
    if (h.kind == TTgaKind::Colour && h.pixelBits != 15 && h.pixelBits != 16 && h.pixelBits != 24 && h.pixelBits != 32) return std::nullopt;
    if (h.kind == TTgaKind::Grey && h.pixelBits != 8 && h.pixelBits != 16) return std::nullopt;
    return h;
}

// A colour of 15 or 16 bits (5 a channel, blue lowest), 24 or 32 (B, G, R, A).
void ReadColour(const std::uint8_t *in, int bits, std::uint8_t *bgra)
{
    if (bits <= 16) {
        const int v = in[0] | in[1] << 8;
        const auto widen = [](int five) { return static_cast<std::uint8_t>((five * 255 + 15) / 31); };
        bgra[0] = widen(v & 31);
        bgra[1] = widen((v >> 5) & 31);
        bgra[2] = widen((v >> 10) & 31);
        bgra[3] = 255;
        return;
    }
    bgra[0] = in[0];
    bgra[1] = in[1];
    bgra[2] = in[2];
    bgra[3] = bits == 32 ? in[3] : 255;
}

} // namespace

bool LooksLikeTga(std::span<const std::uint8_t> bytes) { return HeaderOf(bytes).has_value(); }

TRowsMissing DecodeTga(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    const std::optional<TTgaHeader> header = HeaderOf(bytes);
    if (!header) throw Exception(DamagedData());
    const TTgaHeader &h = *header;
    const bool alpha = h.kind == TTgaKind::Colour ? h.pixelBits == 32 && h.alphaBits == 8 : h.kind == TTgaKind::Grey && h.pixelBits == 16;
    const TPixelFormat format = alpha ? pf32bit : h.kind == TTgaKind::Colour ? pf24bit : pf8bit;
    TDecodedPicture decoded(into, TPictureFileFormat::Tga);
    TBitmap &bitmap = decoded.Start(h.width, h.height, format, bytes.size());
    // The picture's identification, which a file may claim past its end.
    std::size_t at = 18 + h.idLength;
    if (at > bytes.size()) throw Exception(DamagedData());
    if (h.kind == TTgaKind::Grey && !alpha) bitmap.SetPalette(GreyLevels);
    // The colour map: entries from mapFirst on, indices below it black.
    const std::size_t mapEntryBytes = std::size_t(h.mapBits + 7) / 8, mapBytes = h.hasMap ? mapEntryBytes * std::size_t(h.mapLength) : 0;
    if (mapBytes > bytes.size() - at) throw Exception(DamagedData());
    if (h.kind == TTgaKind::ColourMapped) {
        TPalette palette{};
        for (int i = 0; i < h.mapLength && h.mapFirst + i < 256; ++i) {
            std::uint8_t bgra[4];
            ReadColour(bytes.data() + at + mapEntryBytes * std::size_t(i), h.mapBits, bgra);
            palette[std::size_t(h.mapFirst + i)] = RGB(bgra[2], bgra[1], bgra[0]);
        }
        bitmap.SetPalette(palette);
    }
    at += mapBytes;

    // Pixels in file order, each written where it belongs in the stored
    // rows; runs may cross the end of a row.
    const std::size_t pixelBytes = std::size_t(h.pixelBits + 7) / 8, outBytes = format == pf32bit ? 4 : format == pf24bit ? 3 : 1;
    const std::uint64_t total = std::uint64_t(h.width) * std::uint64_t(h.height);
    std::uint64_t done = 0;
    const auto put = [&](const std::uint8_t *pixel) {
        const int y = static_cast<int>(done / std::uint64_t(h.width)), x = static_cast<int>(done % std::uint64_t(h.width));
        std::uint8_t *out = bitmap.Row(y) + outBytes * std::size_t(x);
        if (h.kind == TTgaKind::Colour) {
            std::uint8_t bgra[4];
            ReadColour(pixel, h.pixelBits, bgra);
            std::memcpy(out, bgra, outBytes);
        } else if (alpha) {
            out[0] = out[1] = out[2] = pixel[0];
            out[3] = pixel[1];
        } else {
            out[0] = pixel[0];
        }
        if (++done % (std::uint64_t(h.width) * 64) == 0) ReportProgress(done, total);
    };
    while (done < total && bytes.size() - at >= (h.runLengths ? 1 : pixelBytes)) {
        if (!h.runLengths) {
            put(bytes.data() + at);
            at += pixelBytes;
            continue;
        }
        const std::uint8_t packet = bytes[at++];
        const std::uint64_t count = (packet & 0x7F) + 1u;
        if (count > total - done) throw Exception(DamagedData());
        if (packet & 0x80) {
            if (bytes.size() - at < pixelBytes) break;
            for (std::uint64_t i = 0; i < count; ++i) put(bytes.data() + at);
            at += pixelBytes;
        } else {
            const std::uint64_t whole = std::min<std::uint64_t>(count, (bytes.size() - at) / pixelBytes);
            for (std::uint64_t i = 0; i < whole; ++i, at += pixelBytes) put(bytes.data() + at);
            if (whole < count) break;
        }
    }
    // Rows the data reached whole; a row cut in two is missing, blank.
    const int held = static_cast<int>(done / std::uint64_t(h.width));
    const TRowsMissing missing = RowsHeld(bitmap, held, std::min(held + 1, h.height));
    // Stored from the bottom up unless it says otherwise.
    const TOrientation stored = h.fromTop ? (h.fromRight ? TOrientation::Mirrored : TOrientation::Upright)
                                          : (h.fromRight ? TOrientation::HalfTurn : TOrientation::Flipped);
    TurnUpright(bitmap, stored);
    return decoded.HandOver(missing);
}

// What a PNG file carries besides its pixels: its ancillary chunks read, and written.
#include "platform/files/png/png_metadata.h"

#include "platform/files/png/png_chunks.h"
#include "platform/metadata/described_profiles.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"

#include <QtEndian>

#include <libdeflate.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr char XmpKeyword[] = "XML:com.adobe.xmp";
constexpr char ProfileName[] = "ICC profile";
constexpr std::size_t MaxKeyword = 79;

bool Is(const std::uint8_t *type, const char *name) { return std::memcmp(type, name, 4) == 0; }

struct TDecompressorFree {
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// A zlib stream inflated, if it gives at most `most` bytes; else none.
std::optional<QByteArray> Inflated(std::span<const std::uint8_t> stream, qsizetype most)
{
    if (most <= 0) return std::nullopt;
    const std::unique_ptr<libdeflate_decompressor, TDecompressorFree> d(libdeflate_alloc_decompressor());
    if (!d) return std::nullopt;
    // Only the pages written are ever touched.
    QByteArray out(most, Qt::Uninitialized);
    std::size_t size = 0;
    if (libdeflate_zlib_decompress(d.get(), stream.data(), stream.size(), out.data(), static_cast<std::size_t>(most), &size) != LIBDEFLATE_SUCCESS)
        return std::nullopt;
    out.resize(static_cast<qsizetype>(size));
    out.squeeze();
    return out;
}

QByteArray Deflated(const QByteArray &data, int level)
{
    libdeflate_compressor *c = libdeflate_alloc_compressor(level);
    if (!c) throw std::bad_alloc();
    const std::size_t bound = libdeflate_zlib_compress_bound(c, static_cast<std::size_t>(data.size()));
    QByteArray out(static_cast<qsizetype>(bound), Qt::Uninitialized);
    const std::size_t size = libdeflate_zlib_compress(c, data.constData(), static_cast<std::size_t>(data.size()), out.data(), bound);
    libdeflate_free_compressor(c);
    out.truncate(static_cast<qsizetype>(size));
    return out;
}

// A keyword: 1 to 79 bytes before a NUL. The bytes after it, or none.
std::optional<std::span<const std::uint8_t>> AfterKeyword(std::span<const std::uint8_t> data, QByteArray &keyword)
{
    const auto nul = std::find(data.begin(), data.begin() + std::min(data.size(), MaxKeyword + 1), 0);
    if (nul == data.end() || nul == data.begin() || static_cast<std::size_t>(nul - data.begin()) > MaxKeyword) return std::nullopt;
    keyword = QByteArray(reinterpret_cast<const char *>(data.data()), nul - data.begin());
    return data.subspan(static_cast<std::size_t>(nul - data.begin()) + 1);
}

// What the chunks said of the colours, before a profile is chosen.
struct TColourChunks {
    std::optional<QByteArray> profile;
    bool srgb = false;
    std::optional<double> gamma;
    std::optional<TChromaticities> chromaticities;
};

std::optional<TChromaticities> ChromaticitiesOf(std::span<const std::uint8_t> data)
{
    if (data.size() != 32) return std::nullopt;
    double v[8];
    for (int i = 0; i < 8; ++i) v[i] = qFromBigEndian<std::uint32_t>(data.data() + 4 * i) / 100000.0;
    return TChromaticities{{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}, {v[6], v[7]}};
}

bool Near(double a, double b, double within) { return std::abs(a - b) <= within; }

bool NearSrgb(const TChromaticities &c)
{
    const TChromaticities &s = SrgbChromaticities;
    const auto near = [](TChromaticity a, TChromaticity b) { return Near(a.x, b.x, 0.01) && Near(a.y, b.y, 0.01); };
    return near(c.white, s.white) && near(c.red, s.red) && near(c.green, s.green) && near(c.blue, s.blue);
}

QByteArray ProfileOf(const TColourChunks &colours, bool greyPixels)
{
    if (colours.profile) return *colours.profile;
    if (colours.srgb || !colours.gamma) return {};
    // The file's gamma is the power its samples were encoded with.
    constexpr double SrgbLikeGamma = 1 / 2.2;
    const TChromaticities space = colours.chromaticities.value_or(SrgbChromaticities);
    if (Near(*colours.gamma, SrgbLikeGamma, SrgbLikeGamma / 100) && (greyPixels || NearSrgb(space))) return {};
    const double decoding = 1 / *colours.gamma;
    if (greyPixels) return DescribedGreyProfile(space.white, decoding);
    return DescribedRgbProfile(space, {decoding, decoding, decoding});
}

// The text of a tEXt, zTXt or iTXt after its keyword, as its bytes:
// Latin-1 in the first two, UTF-8 in an iTXt. None where the chunk is
// damaged, or its text would take more than `most` bytes.
std::optional<QByteArray> NoteOf(const std::uint8_t *type, std::span<const std::uint8_t> rest, qsizetype most)
{
    const auto copy = [&](std::span<const std::uint8_t> b) -> std::optional<QByteArray> {
        if (static_cast<qsizetype>(b.size()) > most) return std::nullopt;
        return QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<qsizetype>(b.size()));
    };
    if (Is(type, "tEXt")) return copy(rest);
    if (Is(type, "zTXt")) {
        if (rest.empty() || rest[0] != 0) return std::nullopt;
        return Inflated(rest.subspan(1), most);
    }
    // iTXt: compressed or not, the method, the language and translated
    // keyword, each ended by a NUL, then the text.
    if (rest.size() < 2 || rest[0] > 1 || rest[1] != 0) return std::nullopt;
    const bool compressed = rest[0] == 1;
    rest = rest.subspan(2);
    for (int field = 0; field < 2; ++field) {
        const auto nul = std::find(rest.begin(), rest.end(), 0);
        if (nul == rest.end()) return std::nullopt;
        rest = rest.subspan(static_cast<std::size_t>(nul - rest.begin()) + 1);
    }
    return compressed ? Inflated(rest, most) : copy(rest);
}

// A keyword PNG allows: Latin-1 letters and spaces, 1 to 79 of them,
// without leading, trailing or double spaces.
bool PngKeyword(const QString &key)
{
    if (key.isEmpty() || key.size() > qsizetype(MaxKeyword) || key.startsWith(QLatin1Char(' ')) || key.endsWith(QLatin1Char(' ')) ||
        key.contains(QStringLiteral("  ")))
        return false;
    return std::all_of(key.begin(), key.end(), [](QChar c) { return (c.unicode() >= 32 && c.unicode() <= 126) || (c.unicode() >= 161 && c.unicode() <= 255); });
}

bool Latin1(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() != 0 && c.unicode() <= 255; });
}

std::uint32_t Fits31(double value)
{
    const double rounded = std::round(value);
    return rounded >= 1 && rounded <= 2147483647.0 ? static_cast<std::uint32_t>(rounded) : 0;
}

} // namespace

bool IsPngMetadataChunk(const std::uint8_t *type)
{
    for (const char *name : {"iCCP", "sRGB", "gAMA", "cHRM", "eXIf", "pHYs", "tEXt", "zTXt", "iTXt"})
        if (Is(type, name)) return true;
    return false;
}

TPictureMetadata PngMetadata(std::span<const std::uint8_t> file, bool greyPixels)
{
    TPictureMetadata found;
    TCommentRoom room;
    TColourChunks colours;
    bool profileSeen = false, exifSeen = false, xmpSeen = false, resolutionSeen = false;
    for (std::size_t at = 8; file.size() - at >= 12;) {
        const std::uint32_t length = qFromBigEndian<std::uint32_t>(file.data() + at);
        if (length > file.size() - at - 12) break;
        const std::uint8_t *type = file.data() + at + 4;
        const std::span<const std::uint8_t> data = file.subspan(at + 8, length);
        at += 12 + std::size_t(length);
        if (Is(type, "IEND")) break;
        if (!IsPngMetadataChunk(type) || libdeflate_crc32(0, type, length + 4) != qFromBigEndian<std::uint32_t>(type + 4 + length)) continue;
        QByteArray keyword;
        if (Is(type, "iCCP")) {
            // Only the first counts, as the only one PNG allows; a damaged
            // one leaves the other chunks to say what the colours are.
            if (profileSeen) continue;
            profileSeen = true;
            const auto rest = AfterKeyword(data, keyword);
            if (!rest || rest->empty() || (*rest)[0] != 0) continue;
            if (const std::optional<QByteArray> profile = Inflated(rest->subspan(1), MaxProfileBytes)) colours.profile = *profile;
        } else if (Is(type, "sRGB")) {
            colours.srgb = colours.srgb || data.size() == 1;
        } else if (Is(type, "gAMA")) {
            const std::uint32_t gamma = data.size() == 4 ? qFromBigEndian<std::uint32_t>(data.data()) : 0;
            if (!colours.gamma && gamma > 0) colours.gamma = gamma / 100000.0;
        } else if (Is(type, "cHRM")) {
            if (!colours.chromaticities) colours.chromaticities = ChromaticitiesOf(data);
        } else if (Is(type, "eXIf")) {
            if (!exifSeen) found.exif = ExifPayload(data);
            exifSeen = true;
        } else if (Is(type, "pHYs")) {
            if (resolutionSeen || data.size() != 9 || data[8] > 1) continue;
            resolutionSeen = true;
            const double horizontal = qFromBigEndian<std::uint32_t>(data.data()), vertical = qFromBigEndian<std::uint32_t>(data.data() + 4);
            found.resolution = TResolution{horizontal, vertical, data[8] == 1 ? TResolutionUnit::Metre : TResolutionUnit::None};
        } else if (const auto rest = AfterKeyword(data, keyword)) {
            if (Is(type, "iTXt") && keyword == XmpKeyword) {
                if (!xmpSeen) found.xmp = NoteOf(type, *rest, MaxXmpBytes).value_or(QByteArray());
                xmpSeen = true;
                continue;
            }
            const std::optional<QByteArray> text = NoteOf(type, *rest, room.Left());
            if (!text) {
                // Damaged, or larger than the room left: the notes end
                // there, so that no further one is inflated in vain.
                room.Close();
                continue;
            }
            room.Keep(found, QString::fromLatin1(keyword), Is(type, "iTXt") ? QString::fromUtf8(*text) : QString::fromLatin1(*text));
        }
    }
    found.colourProfile = ProfileOf(colours, greyPixels);
    return found;
}

QByteArray PngMetadataChunks(const TPictureMetadata &saved, TProfileSpace pixels)
{
    QByteArray out;
    if (!saved.colourProfile.isEmpty() && PictureProfileSpace(saved.colourProfile) == pixels) {
        QByteArray data(ProfileName, sizeof ProfileName); // the name and its NUL
        data.append('\0');                                // deflate
        // A profile of tables takes megabytes: compressed fast, beside
        // the picture's own data.
        data.append(Deflated(saved.colourProfile, saved.colourProfile.size() > (qsizetype(64) << 10) ? 1 : 9));
        PutPngChunk(out, "iCCP", data);
    }
    if (!saved.exif.isEmpty()) PutPngChunk(out, "eXIf", saved.exif);
    if (saved.resolution && saved.resolution->Usable()) {
        TResolution stated = saved.resolution->unit == TResolutionUnit::None ? *saved.resolution : *saved.resolution->In(TResolutionUnit::Metre);
        if (stated.unit == TResolutionUnit::None) {
            const double scale = std::max(1.0, std::max(stated.horizontal, stated.vertical) / 2147483647.0);
            stated.horizontal /= scale, stated.vertical /= scale;
        }
        const std::uint32_t horizontal = Fits31(stated.horizontal), vertical = Fits31(stated.vertical);
        if (horizontal && vertical) {
            std::uint8_t data[9];
            qToBigEndian(horizontal, data);
            qToBigEndian(vertical, data + 4);
            data[8] = stated.unit == TResolutionUnit::Metre ? 1 : 0;
            PutPngChunk(out, "pHYs", data, sizeof data);
        }
    }
    if (!saved.xmp.isEmpty()) {
        // The keyword, uncompressed, no language or translated keyword.
        QByteArray data(XmpKeyword, sizeof XmpKeyword);
        data.append("\0\0\0\0", 4);
        data.append(saved.xmp);
        PutPngChunk(out, "iTXt", data);
    }
    for (const TTextComment &comment : saved.comments) {
        const bool keyed = PngKeyword(comment.key);
        const QString key = keyed ? comment.key : QStringLiteral("Comment");
        const QString text = keyed ? comment.text : KeylessComment(comment);
        QByteArray data = key.toLatin1();
        data.append('\0');
        if (Latin1(text)) {
            PutPngChunk(out, "tEXt", data + text.toLatin1());
        } else {
            data.append("\0\0\0\0", 4);
            QString plain = text;
            plain.remove(QChar(0));
            PutPngChunk(out, "iTXt", data + plain.toUtf8());
        }
    }
    return out;
}

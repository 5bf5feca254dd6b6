// Our BMP writer: each picture in its own bit depth and palette, encoded whole in
// memory or written into a file as it is encoded.
//
// pf1bit, pf4bit and pf8bit are written with 2, 16 and 256 palette entries;
// pf15bit as 16-bit BI_RGB; pf16bit as 16-bit bit fields 5-6-5 after a
// 40-byte header; pf24bit as 24-bit; pf32bit with a 108-byte header, bit
// fields and an alpha mask, so its alpha survives. Rows are stored bottom
// row first with a positive height, the form every reader knows. A
// picture with an RGB colour profile gets a 124-byte header (its bit
// fields in it) that embeds the profile after the pixels; the resolution
// is the picture's, in pixels per metre, else 72 dots an inch.
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/bmp/bmp_format.h"
#include "platform/metadata/colour_profiles.h"
#include "platform/base/parallel_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace bmp;

namespace {

struct TFileForm {
    std::uint32_t headerSize = InfoHeaderBytes;
    std::uint32_t compression = Rgb;
    std::uint32_t masks[4] = {};
    std::size_t maskBytes = 0;   // masks written after a 40-byte header
};

// The profile a BMP can embed: one of RGB, its colours.
const QByteArray &EmbeddedProfile(const TBitmap &bitmap)
{
    static const QByteArray none;
    const QByteArray &profile = bitmap.GetMetadata().colourProfile;
    return !profile.isEmpty() && PictureProfileSpace(profile) == TProfileSpace::Rgb ? profile : none;
}

TFileForm FileFormFor(TPixelFormat format, bool embedsProfile)
{
    TFileForm form;
    if (format == pf16bit) {
        form.compression = BitFields;
        form.masks[0] = 0xF800;
        form.masks[1] = 0x07E0;
        form.masks[2] = 0x001F;
        form.maskBytes = 12;
    } else if (format == pf32bit) {
        form.headerSize = V4HeaderBytes;
        form.compression = BitFields;
        form.masks[0] = 0x00FF0000;
        form.masks[1] = 0x0000FF00;
        form.masks[2] = 0x000000FF;
        form.masks[3] = 0xFF000000;
    }
    if (embedsProfile) {
        // The bit fields go in the header itself.
        form.headerSize = V5HeaderBytes;
        form.maskBytes = 0;
    }
    return form;
}

// The picture's resolution in pixels per metre, else 72 dots an inch.
std::int32_t PerMetre(const TBitmap &bitmap, bool horizontal)
{
    const std::optional<TResolution> &resolution = bitmap.GetMetadata().resolution;
    if (!resolution || !resolution->Usable() || resolution->unit == TResolutionUnit::None) return PixelsPerMetre;
    const TResolution perMetre = *resolution->In(TResolutionUnit::Metre);
    const double value = std::round(horizontal ? perMetre.horizontal : perMetre.vertical);
    return value >= 1 && value <= 2147483647.0 ? static_cast<std::int32_t>(value) : PixelsPerMetre;
}

// Where everything lies in the file of a bitmap: worked out once, with
// every refusal, before anything is written.
struct TFileLayout {
    TFileForm form;
    const QByteArray &profile;
    std::size_t paletteEntries;
    // Our rows are padded to 4 bytes exactly as the file's are.
    std::size_t stride;
    // The bytes of a row that hold pixels, and the mask of the last of them:
    // bits that belong to no pixel, and the padding, are written as 0.
    std::size_t used;
    std::uint8_t lastByteMask;
    std::size_t pixelsAt;
    std::size_t imageBytes;
    std::size_t fileBytes;

    // Whether the file's rows are the bitmap's, byte for byte.
    bool RowsAsTheyAre() const { return used == stride && lastByteMask == 0xFF; }
};

TFileLayout LayoutOf(const TBitmap &bitmap)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const QByteArray &profile = EmbeddedProfile(bitmap);
    const TFileForm form = FileFormFor(bitmap.GetPixelFormat(), !profile.isEmpty());
    const std::size_t paletteEntries = static_cast<std::size_t>(bitmap.PaletteSize());
    const std::size_t stride = bitmap.BytesPerRow();
    const std::size_t bits = static_cast<std::size_t>(bitmap.GetWidth()) * static_cast<std::size_t>(BitsPerPixel(bitmap.GetPixelFormat()));
    const std::size_t used = (bits + 7) / 8;
    const std::size_t pixelsAt = FileHeaderBytes + form.headerSize + form.maskBytes + 4 * paletteEntries;
    const std::size_t imageBytes = stride * static_cast<std::size_t>(bitmap.GetHeight());
    const std::size_t fileBytes = pixelsAt + imageBytes + static_cast<std::size_t>(profile.size());
    if (fileBytes > std::numeric_limits<std::uint32_t>::max())
        throw Exception(QStringLiteral("a picture of %1 x %2 pixels is too large for a BMP file").arg(bitmap.GetWidth()).arg(bitmap.GetHeight()));
    const auto lastByteMask = static_cast<std::uint8_t>(0xFF << (used * 8 - bits));
    return {form, profile, paletteEntries, stride, used, lastByteMask, pixelsAt, imageBytes, fileBytes};
}

// The headers and the palette: the file's first pixelsAt bytes.
void WriteHeaders(const TBitmap &bitmap, const TFileLayout &l, std::uint8_t *out)
{
    std::memset(out, 0, l.pixelsAt);
    out[0] = 'B';
    out[1] = 'M';
    PutU32(out + FileSizeAt, static_cast<std::uint32_t>(l.fileBytes));
    PutU32(out + PixelOffsetAt, static_cast<std::uint32_t>(l.pixelsAt));

    std::uint8_t *h = out + FileHeaderBytes;
    PutU32(h, l.form.headerSize);
    PutU32(h + WidthAt, static_cast<std::uint32_t>(bitmap.GetWidth()));
    PutU32(h + HeightAt, static_cast<std::uint32_t>(bitmap.GetHeight()));
    PutU16(h + PlanesAt, 1);
    PutU16(h + BitCountAt, static_cast<std::uint32_t>(BitsPerPixel(bitmap.GetPixelFormat())));
    PutU32(h + CompressionAt, l.form.compression);
    PutU32(h + ImageSizeAt, static_cast<std::uint32_t>(l.imageBytes));
    PutU32(h + XPixelsPerMetreAt, static_cast<std::uint32_t>(PerMetre(bitmap, true)));
    PutU32(h + YPixelsPerMetreAt, static_cast<std::uint32_t>(PerMetre(bitmap, false)));
    PutU32(h + ColoursUsedAt, static_cast<std::uint32_t>(l.paletteEntries));
    if (l.form.headerSize >= V4HeaderBytes) {
        for (std::size_t i = 0; i < 4; ++i) PutU32(h + MasksAt + 4 * i, l.form.masks[i]);
        PutU32(h + ColourSpaceAt, SrgbColourSpace);
    }
    if (!l.profile.isEmpty()) {
        // The profile follows the pixels.
        PutU32(h + ColourSpaceAt, EmbeddedColourSpace);
        PutU32(h + IntentAt, PictureIntent);
        PutU32(h + ProfileDataAt, static_cast<std::uint32_t>(l.pixelsAt + l.imageBytes - FileHeaderBytes));
        PutU32(h + ProfileSizeAt, static_cast<std::uint32_t>(l.profile.size()));
    }
    for (std::size_t i = 0; i < l.form.maskBytes / 4; ++i) PutU32(h + l.form.headerSize + 4 * i, l.form.masks[i]);

    std::uint8_t *palette = h + l.form.headerSize + l.form.maskBytes;
    for (std::size_t i = 0; i < l.paletteEntries; ++i) {
        const TColor c = bitmap.GetPalette()[i];
        palette[4 * i] = static_cast<std::uint8_t>(GetBValue(c));
        palette[4 * i + 1] = static_cast<std::uint8_t>(GetGValue(c));
        palette[4 * i + 2] = static_cast<std::uint8_t>(GetRValue(c));
    }
}

// Rows [first, first + rows) of the file, which stores the bottom row
// first, encoded into `out`, on every core.
void EncodeRows(const TBitmap &bitmap, const TFileLayout &l, int first, int rows, std::uint8_t *out)
{
    const int height = bitmap.GetHeight();
    ForEachBand(rows, l.stride, [&](const TBand &band, unsigned) {
        for (int r = band.first; r < band.end; ++r) {
            std::uint8_t *dst = out + static_cast<std::size_t>(r) * l.stride;
            const std::uint8_t *src = bitmap.Row(height - 1 - (first + r));
            CopyRow(dst, src, l.used - 1);
            dst[l.used - 1] = src[l.used - 1] & l.lastByteMask;
            std::memset(dst + l.used, 0, l.stride - l.used);
        }
    });
}

// Rows the file holds as the bitmap does go to the file straight from the
// bitmap, a piece a row, unless a row is so short that copying it costs
// less than a piece of its own; they go this many at a time.
constexpr std::size_t ShortestRowPiece = 512;
constexpr std::size_t RowPiecesACall = 1024;
// Other rows are encoded into a buffer of about this size at a time.
constexpr std::size_t EncodedPieceBytes = std::size_t(4) << 20;

} // namespace

std::size_t BmpFileBytes(const TBitmap &bitmap) { return LayoutOf(bitmap).fileBytes; }

QByteArray EncodeBmp(const TBitmap &bitmap)
{
    QByteArray file(static_cast<qsizetype>(BmpFileBytes(bitmap)), Qt::Uninitialized);
    std::uint8_t *out = reinterpret_cast<std::uint8_t *>(file.data());
    PreferHugePages(out, static_cast<std::size_t>(file.size()));
    EncodeBmpInto(bitmap, {out, static_cast<std::size_t>(file.size())});
    return file;
}

void EncodeBmpInto(const TBitmap &bitmap, std::span<std::uint8_t> file)
{
    const TFileLayout l = LayoutOf(bitmap);
    if (file.size() != l.fileBytes) throw Exception(QStringLiteral("the buffer for the BMP file has the wrong size"));
    WriteHeaders(bitmap, l, file.data());
    EncodeRows(bitmap, l, 0, bitmap.GetHeight(), file.data() + l.pixelsAt);
    std::memcpy(file.data() + l.pixelsAt + l.imageBytes, l.profile.constData(), static_cast<std::size_t>(l.profile.size()));
}

void WriteBmpStraight(const TBitmap &bitmap, TFileSink &file)
{
    const TFileLayout l = LayoutOf(bitmap);
    file.Begin(l.fileBytes);
    std::vector<std::uint8_t> headers(l.pixelsAt);
    WriteHeaders(bitmap, l, headers.data());
    const int height = bitmap.GetHeight();
    std::vector<std::span<const std::uint8_t>> pieces{headers};
    if (l.RowsAsTheyAre() && l.stride >= ShortestRowPiece) {
        for (int fileRow = 0; fileRow < height; ++fileRow) {
            pieces.emplace_back(bitmap.Row(height - 1 - fileRow), l.stride);
            if (pieces.size() == RowPiecesACall) {
                file.Write(pieces);
                pieces.clear();
            }
        }
    } else {
        const int rowsAPiece = static_cast<int>(std::clamp<std::size_t>(EncodedPieceBytes / l.stride, 1, static_cast<std::size_t>(height)));
        std::vector<std::uint8_t> encoded(static_cast<std::size_t>(rowsAPiece) * l.stride);
        for (int first = 0; first < height; first += rowsAPiece) {
            const int rows = std::min(rowsAPiece, height - first);
            EncodeRows(bitmap, l, first, rows, encoded.data());
            pieces.emplace_back(encoded.data(), static_cast<std::size_t>(rows) * l.stride);
            file.Write(pieces);
            pieces.clear();
        }
    }
    if (!l.profile.isEmpty()) pieces.emplace_back(reinterpret_cast<const std::uint8_t *>(l.profile.constData()), static_cast<std::size_t>(l.profile.size()));
    if (!pieces.empty()) file.Write(pieces);
}

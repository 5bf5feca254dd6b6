// Our BMP writer: each picture in its own bit depth and palette, encoded whole in memory.
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

#include <cmath>

#include <cstring>
#include <limits>

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

} // namespace

namespace {

// The bytes from the pixels' start to the end of the file, and where the pixels start.
struct TFileSize {
    std::size_t pixelsAt;
    std::size_t total;
};

TFileSize FileSizeOf(const TBitmap &bitmap, const QByteArray &profile)
{
    const std::size_t paletteEntries = static_cast<std::size_t>(bitmap.PaletteSize());
    const TFileForm form = FileFormFor(bitmap.GetPixelFormat(), !profile.isEmpty());
    const std::size_t pixelsAt = FileHeaderBytes + form.headerSize + form.maskBytes + 4 * paletteEntries;
    return {pixelsAt, pixelsAt + static_cast<std::size_t>(bitmap.BytesPerRow()) * static_cast<std::size_t>(bitmap.GetHeight()) +
                          static_cast<std::size_t>(profile.size())};
}

} // namespace

std::size_t BmpFileBytes(const TBitmap &bitmap)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const std::size_t fileSize = FileSizeOf(bitmap, EmbeddedProfile(bitmap)).total;
    if (fileSize > std::numeric_limits<std::uint32_t>::max())
        throw Exception(QStringLiteral("a picture of %1 x %2 pixels is too large for a BMP file").arg(bitmap.GetWidth()).arg(bitmap.GetHeight()));
    return fileSize;
}

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
    const std::size_t fileSize = BmpFileBytes(bitmap);
    if (file.size() != fileSize) throw Exception(QStringLiteral("the buffer for the BMP file has the wrong size"));
    const TPixelFormat format = bitmap.GetPixelFormat();
    const int width = bitmap.GetWidth();
    const int height = bitmap.GetHeight();
    const int bits = BitsPerPixel(format);
    const QByteArray &profile = EmbeddedProfile(bitmap);
    const TFileForm form = FileFormFor(format, !profile.isEmpty());
    const std::size_t paletteEntries = static_cast<std::size_t>(bitmap.PaletteSize());
    // Our rows are padded to 4 bytes exactly as the file's are.
    const std::size_t stride = bitmap.BytesPerRow();
    const std::size_t used = (static_cast<std::size_t>(width) * bits + 7) / 8;
    const std::size_t pixelsAt = FileHeaderBytes + form.headerSize + form.maskBytes + 4 * paletteEntries;
    const std::size_t imageBytes = stride * static_cast<std::size_t>(height);
    std::uint8_t *out = file.data();
    std::memset(out, 0, pixelsAt);

    out[0] = 'B';
    out[1] = 'M';
    PutU32(out + FileSizeAt, static_cast<std::uint32_t>(fileSize));
    PutU32(out + PixelOffsetAt, static_cast<std::uint32_t>(pixelsAt));

    std::uint8_t *h = out + FileHeaderBytes;
    PutU32(h, form.headerSize);
    PutU32(h + WidthAt, static_cast<std::uint32_t>(width));
    PutU32(h + HeightAt, static_cast<std::uint32_t>(height));
    PutU16(h + PlanesAt, 1);
    PutU16(h + BitCountAt, static_cast<std::uint32_t>(bits));
    PutU32(h + CompressionAt, form.compression);
    PutU32(h + ImageSizeAt, static_cast<std::uint32_t>(imageBytes));
    PutU32(h + XPixelsPerMetreAt, static_cast<std::uint32_t>(PerMetre(bitmap, true)));
    PutU32(h + YPixelsPerMetreAt, static_cast<std::uint32_t>(PerMetre(bitmap, false)));
    PutU32(h + ColoursUsedAt, static_cast<std::uint32_t>(paletteEntries));
    if (form.headerSize >= V4HeaderBytes) {
        for (std::size_t i = 0; i < 4; ++i) PutU32(h + MasksAt + 4 * i, form.masks[i]);
        PutU32(h + ColourSpaceAt, SrgbColourSpace);
    }
    if (!profile.isEmpty()) {
        // The profile follows the pixels.
        const std::size_t profileAt = pixelsAt + imageBytes;
        PutU32(h + ColourSpaceAt, EmbeddedColourSpace);
        PutU32(h + IntentAt, PictureIntent);
        PutU32(h + ProfileDataAt, static_cast<std::uint32_t>(profileAt - FileHeaderBytes));
        PutU32(h + ProfileSizeAt, static_cast<std::uint32_t>(profile.size()));
        std::memcpy(out + profileAt, profile.constData(), static_cast<std::size_t>(profile.size()));
    }
    for (std::size_t i = 0; i < form.maskBytes / 4; ++i) PutU32(h + form.headerSize + 4 * i, form.masks[i]);

    std::uint8_t *palette = h + form.headerSize + form.maskBytes;
    for (std::size_t i = 0; i < paletteEntries; ++i) {
        const TColor c = bitmap.GetPalette()[i];
        palette[4 * i] = static_cast<std::uint8_t>(GetBValue(c));
        palette[4 * i + 1] = static_cast<std::uint8_t>(GetGValue(c));
        palette[4 * i + 2] = static_cast<std::uint8_t>(GetRValue(c));
    }

    // Bits of a last partial byte that belong to no pixel, and the padding, are written as 0.
    const int spareBits = static_cast<int>(used * 8 - static_cast<std::size_t>(width) * bits);
    const std::uint8_t lastByteMask = static_cast<std::uint8_t>(0xFF << spareBits);
    ForEachBand(height, stride, [&](const TBand &band, unsigned) {
        for (int y = band.first; y < band.end; ++y) {
            std::uint8_t *dst = out + pixelsAt + static_cast<std::size_t>(height - 1 - y) * stride;
            const std::uint8_t *src = bitmap.Row(y);
            CopyRow(dst, src, used - 1);
            dst[used - 1] = src[used - 1] & lastByteMask;
            std::memset(dst + used, 0, stride - used);
        }
    });
}

// Test pictures made in the tests, and comparisons of bitmaps.
#include "pictures.h"

#include <QDir>

#include <array>
#include <cstring>
#include <random>

std::unique_ptr<TBitmap> MakeBitmap(int width, int height, TPixelFormat format)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Allocate(width, height, format);
    if (HasPalette(format)) {
        TPalette palette{};
        const int entries = bitmap->PaletteSize();
        for (int i = 0; i < entries; ++i) {
            const int grey = entries == 256 ? i : i * 255 / (entries - 1);
            palette[static_cast<std::size_t>(i)] = RGB(grey, grey, grey);
        }
        bitmap->SetPalette(palette);
    }
    return bitmap;
}

static std::size_t PixelBytes(const TBitmap &bitmap)
{
    return (static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) + 7) / 8;
}

std::unique_ptr<TBitmap> GreyRamp(int width, int height)
{
    auto picture = MakeBitmap(width, height, pf8bit);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture->GetScanline(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 13) % 256);
    return picture;
}

void FillRandomBytes(TBitmap &bitmap, std::uint32_t seed)
{
    std::mt19937 random(seed);
    const std::size_t bytes = PixelBytes(bitmap);
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        std::uint8_t *row = bitmap.GetScanline(y);
        for (std::size_t x = 0; x < bytes; ++x) row[x] = static_cast<std::uint8_t>(random());
    }
}

std::unique_ptr<TBitmap> Noise(int width, int height, TPixelFormat format, std::uint32_t seed, TNoisePalette palette)
{
    auto noise = MakeBitmap(width, height, format);
    FillRandomBytes(*noise, seed);
    if (palette == TNoisePalette::Random && HasPalette(format)) {
        std::mt19937 random(seed);
        TPalette colours{};
        for (TColor &c : colours) c = static_cast<TColor>(random() & 0xFFFFFF);
        noise->SetPalette(colours);
    }
    return noise;
}

std::unique_ptr<TBitmap> Pattern(int width, int height, TPixelFormat format)
{
    auto bitmap = MakeBitmap(width, height, format);
    FillColours(*bitmap, [](int x, int y) { return RGB(x * 5, y * 3, (x ^ y) & 255); });
    return bitmap;
}

void FillColours(TBitmap &bitmap, const std::function<TColor(int, int)> &colour)
{
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) bitmap.SetPixel(x, y, colour(x, y));
}

std::optional<QString> CorporaDir()
{
    const QString dir = QStringLiteral(PW_CORPORA_DIR);
    if (!QDir(dir).exists()) return std::nullopt;
    return QDir(dir).canonicalPath();
}

TWideningProbe WideningProbe(TPixelFormat format)
{
    const bool six = format == pf16bit;
    // Red, green, blue as stored, and as read.
    const std::vector<std::array<unsigned, 3>> stored = six
        ? std::vector<std::array<unsigned, 3>>{{16, 1, 31}, {0, 32, 16}, {31, 63, 0}}
        : std::vector<std::array<unsigned, 3>>{{16, 31, 1}, {31, 0, 16}};
    TWideningProbe probe{MakeBitmap(static_cast<int>(stored.size()), 1, format), {}};
    probe.colours = six ? std::vector<TColor>{RGB(132, 4, 255), RGB(0, 130, 132), RGB(255, 255, 0)}
                        : std::vector<TColor>{RGB(132, 255, 8), RGB(255, 0, 132)};
    for (std::size_t x = 0; x < stored.size(); ++x) {
        const auto [r, g, b] = stored[x];
        const unsigned word = six ? r << 11 | g << 5 | b : r << 10 | g << 5 | b;
        probe.picture->GetScanline(0)[2 * x] = static_cast<std::uint8_t>(word);
        probe.picture->GetScanline(0)[2 * x + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    return probe;
}

TPictureMetadata EveryKindOfMetadata()
{
    TPictureMetadata metadata;
    metadata.colourProfile = QByteArray("profile bytes\0\1\2", 16);
    metadata.exif = QByteArray("MM\0*\0\0\0\x08exif", 12);
    metadata.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    metadata.resolution = TResolution{300, 150, TResolutionUnit::Inch};
    metadata.comments = {{QStringLiteral("Title"), QStringLiteral("Harbour")}, {QString(), QStringLiteral("a note")}};
    return metadata;
}

void PrintTo(const TPictureMetadata &metadata, std::ostream *out)
{
    *out << "{profile " << metadata.colourProfile.size() << " bytes, EXIF " << metadata.exif.size() << " bytes, XMP "
         << metadata.xmp.size() << " bytes, ";
    if (metadata.resolution)
        *out << "resolution " << metadata.resolution->horizontal << " x " << metadata.resolution->vertical << " (unit "
             << static_cast<int>(metadata.resolution->unit) << "), ";
    *out << metadata.comments.size() << " comments}";
}

TDecodedOver DecodedOverAPicture(TDecoder decode, const QByteArray &file)
{
    const auto kept = MakeBitmap(3, 2, pf8bit);
    FillRandomBytes(*kept, 9);
    TBitmap bitmap;
    bitmap.Assign(kept.get());
    const std::string message = MessageOf([&] { decode(Bytes(file), bitmap); });
    return {message, SameBitmap(*kept, bitmap)};
}

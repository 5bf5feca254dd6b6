// The TIFF and WebP writers of our own, which took over from Qt's to carry
// what a picture's file carries, give every picture the form, pixels and
// compression Qt's writer gave it.
#include "platform/files/file_formats.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/tiff/tiff_codec.h"
#include "platform/files/webp/webp_codec.h"
#include "support/comparisons.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/pictures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <random>

namespace {

struct TCase {
    const char *what;
    std::function<std::unique_ptr<TBitmap>()> make;
};

std::unique_ptr<TBitmap> Random(TPixelFormat format, std::uint32_t seed, int width = 37, int height = 19)
{
    auto bitmap = MakeBitmap(width, height, format);
    FillRandomBytes(*bitmap, seed);
    if (HasPalette(format)) {
        std::mt19937 random(seed);
        TPalette palette{};
        for (TColor &c : palette) c = static_cast<TColor>(random() & 0xFFFFFF);
        bitmap->SetPalette(palette);
    }
    return bitmap;
}

std::unique_ptr<TBitmap> WithPalette(std::unique_ptr<TBitmap> bitmap, const std::function<TColor(int)> &entry)
{
    TPalette palette{};
    for (int i = 0; i < 256; ++i) palette[std::size_t(i)] = entry(i);
    bitmap->SetPalette(palette);
    return bitmap;
}

std::unique_ptr<TBitmap> Opaque(std::unique_ptr<TBitmap> bitmap)
{
    for (int y = 0; y < bitmap->GetHeight(); ++y)
        for (int x = 0; x < bitmap->GetWidth(); ++x) bitmap->Row(y)[4 * x + 3] = 255;
    return bitmap;
}

const TCase Cases[] = {
    {"1 bit, two colours", [] { return Random(pf1bit, 1); }},
    {"1 bit, black and white", [] { return WithPalette(Random(pf1bit, 2), [](int i) { return i == 0 ? clBlack : clWhite; }); }},
    {"1 bit, white and black", [] { return WithPalette(Random(pf1bit, 3), [](int i) { return i == 0 ? clWhite : clBlack; }); }},
    {"4 bits", [] { return Random(pf4bit, 4); }},
    {"8 bits, colours", [] { return Random(pf8bit, 5); }},
    {"8 bits, grey rising", [] { return WithPalette(Random(pf8bit, 6), [](int i) { return RGB(i, i, i); }); }},
    {"8 bits, grey falling", [] { return WithPalette(Random(pf8bit, 7), [](int i) { return RGB(255 - i, 255 - i, 255 - i); }); }},
    {"15 bits", [] { return Random(pf15bit, 8); }},
    {"16 bits", [] { return Random(pf16bit, 9); }},
    {"24 bits", [] { return Random(pf24bit, 10); }},
    {"24 bits, strips of 4 MiB", [] { return Random(pf24bit, 11, 1900, 1500); }},
    {"32 bits, translucent", [] { return Random(pf32bit, 12); }},
    {"32 bits, opaque", [] { return Opaque(Random(pf32bit, 13)); }},
};

// The fields that say how a TIFF's pixels are stored.
struct TStorage {
    std::uint16_t compression = 0, photometric = 0, bits = 0, samples = 0, extra = 0;
    std::uint32_t rowsPerStrip = 0, strips = 0;
    bool operator==(const TStorage &) const = default;
};

void PrintTo(const TStorage &s, std::ostream *out)
{
    *out << "compression " << s.compression << ", photometric " << s.photometric << ", " << s.samples << " x " << s.bits << " bits, "
         << s.extra << " extra, " << s.strips << " strips of " << s.rowsPerStrip << " rows";
}

TStorage StorageOf(const QByteArray &file)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("read.tif"));
    PutFile(path, file);
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tiff) return {};
    TStorage s;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &s.compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &s.photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &s.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &s.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &s.rowsPerStrip);
    std::uint16_t count = 0, *types = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &types) == 1 && count == 1) s.extra = types[0];
    s.strips = TIFFNumberOfStrips(tiff);
    TIFFClose(tiff);
    return s;
}

const TPictureFileFormatInfo &Format(TPictureFileFormat format) { return PictureFileFormatInfo(format); }

} // namespace

TEST(WritersAsQt, TiffKeepsTheFormPixelsAndCompressionOfQtsWriter)
{
    for (const TCase &c : Cases) {
        SCOPED_TRACE(c.what);
        const auto picture = c.make();
        const QByteArray ours = EncodeTiff(*picture, Format(TPictureFileFormat::Tiff));
        const QByteArray qt = EncodeWithQt(*picture, Format(TPictureFileFormat::Tiff));
        EXPECT_EQ(StorageOf(ours), StorageOf(qt));
        EXPECT_EQ(StorageOf(ours).compression, COMPRESSION_LZW);
        const auto oursRead = DecodedBy(DecodeWithQt, ours), qtRead = DecodedBy(DecodeWithQt, qt);
        ASSERT_TRUE(oursRead && qtRead);
        // Qt's writer gave a colour map entries past the palette's from
        // whatever its memory held: those are not compared.
        EXPECT_EQ(oursRead->GetPixelFormat(), qtRead->GetPixelFormat());
        EXPECT_TRUE(SameColours(*oursRead, *qtRead));
        EXPECT_TRUE(SameAlpha(*oursRead, *qtRead));
    }
}

TEST(WritersAsQt, WebpIsQtsWritersFileByteForByte)
{
    for (const TCase &c : Cases) {
        SCOPED_TRACE(c.what);
        const auto picture = c.make();
        EXPECT_EQ(EncodeWebp(*picture, Format(TPictureFileFormat::Webp)), EncodeWithQt(*picture, Format(TPictureFileFormat::Webp)));
    }
}

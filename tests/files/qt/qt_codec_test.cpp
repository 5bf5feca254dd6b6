// Pictures through Qt's image plugins: round trips in every pixel format, the
// forms decoded pictures take, and the refusals.
#include "platform/files/opening_limits.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/qt/qt_codec.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "support/decoding.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"


#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

namespace {


const std::string NotAPicture = "the file is not a picture in a format this program reads";
// Random pixels; palette formats get random, non-grey colours.
std::unique_ptr<TBitmap> RandomPicture(TPixelFormat format, std::uint32_t seed, int width = 37, int height = 19)
{
    auto bitmap = Noise(width, height, format, seed);
    if (HasPalette(format)) {
        std::mt19937 random(seed + 1);
        TPalette palette{};
        for (TColor &c : palette) c = static_cast<TColor>(random() & 0xFFFFFF) | 0x000080;
        palette[0] = RGB(200, 10, 30);
        bitmap->SetPalette(palette);
    }
    return bitmap;
}

// Encoded by Qt's writer for the format an extension names, with that
// format's options.
QByteArray Encoded(const TBitmap &bitmap, const char *extension)
{
    const auto format = PictureFileFormatFor(QStringLiteral("x.") + QLatin1String(extension));
    return EncodeWithQt(bitmap, PictureFileFormatInfo(format.value()));
}

std::unique_ptr<TBitmap> Decoded(const QByteArray &bytes)
{
    auto bitmap = std::make_unique<TBitmap>();
    DecodeWithQt(Bytes(bytes), *bitmap);
    return bitmap;
}

std::unique_ptr<TBitmap> RoundTrip(const TBitmap &bitmap, const char *format)
{
    return Decoded(Encoded(bitmap, format));
}

int Alpha(const TBitmap &bitmap, int x, int y) { return bitmap.Row(y)[4 * x + 3]; }

bool IsGreyRamp(const TBitmap &bitmap)
{
    for (int i = 0; i < 256; ++i)
        if (bitmap.GetPalette()[static_cast<std::size_t>(i)] != RGB(i, i, i)) return false;
    return true;
}

// A GIF of one image over a 256-colour table, its LZW data written as
// 9-bit literal codes.
QByteArray MakeGif(int width, int height, const std::vector<QRgb> &colours, const std::vector<std::uint8_t> &indices, int transparent = -1)
{
    QByteArray gif("GIF89a");
    auto put16 = [&](int v) { gif += char(v & 0xFF); gif += char(v >> 8); };
    put16(width);
    put16(height);
    gif += char(0xF7);
    gif += QByteArray(2, '\0');
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < int(colours.size()) ? colours[std::size_t(i)] : qRgb(0, 0, 0);
        gif += char(qRed(c));
        gif += char(qGreen(c));
        gif += char(qBlue(c));
    }
    if (transparent >= 0) gif += QByteArray("\x21\xF9\x04\x01\x00\x00", 6) + char(transparent) + char(0);
    gif += ',';
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    gif += char(0);
    gif += GifLiteralImageData(std::vector<int>(indices.begin(), indices.end()), 8);
    gif += ';';
    return gif;
}

} // namespace

// --- Lossless formats: every pixel, and alpha, survives ---------------------

class LosslessRoundTrip : public testing::TestWithParam<std::tuple<const char *, TPixelFormat>> {};

TEST_P(LosslessRoundTrip, KeepsEveryPixelInTheSmallestForm)
{
    const auto [format, pixelFormat] = GetParam();
    const auto original = RandomPicture(pixelFormat, 7);
    const auto back = RoundTrip(*original, format);
    const bool webp = std::strcmp(format, "webp") == 0;
    const bool tiff = std::strcmp(format, "tiff") == 0;
    // Alpha and the colour under it are compared below.
    if (pixelFormat != pf32bit) {
        ASSERT_TRUE(SameColours(*original, *back));
    }

    TPixelFormat expected = pf24bit;
    if (pixelFormat == pf32bit) expected = pf32bit;
    else if (!webp && (pixelFormat == pf4bit || pixelFormat == pf8bit)) expected = pf8bit;
    else if (!webp && pixelFormat == pf1bit) expected = tiff ? pf8bit : pf1bit;
    EXPECT_EQ(back->GetPixelFormat(), expected);
    // Palette pictures keep their indices and colours, not just the colours.
    if (expected == pixelFormat && pixelFormat != pf32bit) {
        EXPECT_TRUE(SameBitmap(*original, *back));
    }

    if (pixelFormat == pf32bit) {
        for (int y = 0; y < original->GetHeight(); ++y)
            for (int x = 0; x < original->GetWidth(); ++x) {
                ASSERT_EQ(Alpha(*back, x, y), Alpha(*original, x, y)) << x << ", " << y;
                // WebP's encoder does not keep the colour under alpha 0.
                if (!webp || Alpha(*original, x, y) != 0) {
                    ASSERT_EQ(0, std::memcmp(back->Row(y) + 4 * x, original->Row(y) + 4 * x, 3)) << x << ", " << y;
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(QtCodec, LosslessRoundTrip,
                         testing::Combine(testing::Values("png", "tiff", "webp"), testing::ValuesIn(AllPixelFormats)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param)) + "_" + std::to_string(BitsPerPixel(std::get<1>(info.param))) +
                                    (std::get<1>(info.param) == pf15bit ? "_555" : "");
                         });

TEST(QtCodec, OpaquePf32bitComesBackAs24bitAndBlackAndWhite1bitStays1bit)
{
    auto opaque = RandomPicture(pf32bit, 3);
    for (int y = 0; y < opaque->GetHeight(); ++y)
        for (int x = 0; x < opaque->GetWidth(); ++x) opaque->Row(y)[4 * x + 3] = 255;
    auto bw = RandomPicture(pf1bit, 4);
    bw->SetPaletteEntry(0, clWhite);
    bw->SetPaletteEntry(1, clBlack);
    for (const char *format : {"png", "tiff", "webp"}) {
        SCOPED_TRACE(format);
        const auto back = RoundTrip(*opaque, format);
        EXPECT_EQ(back->GetPixelFormat(), pf24bit);
        EXPECT_TRUE(SameColours(*opaque, *back));
    }
    for (const char *format : {"png", "tiff", "pbm"}) {
        SCOPED_TRACE(format);
        const auto back = RoundTrip(*bw, format);
        EXPECT_EQ(back->GetPixelFormat(), pf1bit);
        EXPECT_TRUE(SameColours(*bw, *back));
    }
}

// --- Grey, JPEG and the portable formats ------------------------------------

TEST(QtCodec, GreyPicturesComeBackAs8bitGreyExactlyThroughPngTiffAndPgm)
{
    const auto grey = MakeBitmap(41, 17, pf8bit);
    FillRandomBytes(*grey, 11);
    for (const char *format : {"png", "tiff", "pgm"}) {
        SCOPED_TRACE(format);
        const auto back = RoundTrip(*grey, format);
        EXPECT_TRUE(SameBitmap(*grey, *back));
    }
}

TEST(QtCodec, JpegKeepsGreyAsGreyAndColourWithinATolerance)
{
    // Smooth pictures: a photograph's kind of content, where JPEG's error is small.
    const auto grey = MakeBitmap(64, 48, pf8bit);
    FillColours(*grey, [](int x, int y) { const int v = (x * 3 + y * 2) & 255; return RGB(v, v, v); });
    const auto colour = MakeBitmap(64, 48, pf24bit);
    FillColours(*colour, [](int x, int y) { return RGB(x * 4, y * 5, 128 + (x - y)); });

    const auto greyBack = RoundTrip(*grey, "jpg");
    EXPECT_EQ(greyBack->GetPixelFormat(), pf8bit);
    EXPECT_TRUE(IsGreyRamp(*greyBack));
    const auto colourBack = RoundTrip(*colour, "jpeg");
    EXPECT_EQ(colourBack->GetPixelFormat(), pf24bit);

    for (const auto &[original, back] : {std::pair{grey.get(), greyBack.get()}, std::pair{colour.get(), colourBack.get()}}) {
        ASSERT_EQ(back->GetWidth(), 64);
        ASSERT_EQ(back->GetHeight(), 48);
        long total = 0;
        int worst = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const TColor a = original->GetPixel(x, y), b = back->GetPixel(x, y);
                for (int d : {GetRValue(a) - GetRValue(b), GetGValue(a) - GetGValue(b), GetBValue(a) - GetBValue(b)}) {
                    total += std::abs(d);
                    worst = std::max(worst, std::abs(d));
                }
            }
        EXPECT_LE(worst, 12);
        EXPECT_LT(static_cast<double>(total) / (64 * 48 * 3), 1.5);
    }
}

TEST(QtCodec, JpegIsWrittenAtQuality95)
{
    const auto colour = RandomPicture(pf24bit, 13, 40, 30);
    EXPECT_EQ(Encoded(*colour, "jpg"), WrittenByQt(QImageFromBitmap(*colour), "jpg", 95));
}

TEST(QtCodec, PortableFormatsWriteColourGreyAndBlackAndWhite)
{
    const auto colour = RandomPicture(pf24bit, 5);
    EXPECT_TRUE(SameBitmap(*colour, *RoundTrip(*colour, "ppm")));
    const auto palette = RandomPicture(pf8bit, 6);
    const auto ppm = RoundTrip(*palette, "ppm");
    EXPECT_EQ(ppm->GetPixelFormat(), pf24bit);
    EXPECT_TRUE(SameColours(*palette, *ppm));

    const auto pgm = RoundTrip(*colour, "pgm");
    EXPECT_EQ(pgm->GetPixelFormat(), pf8bit);
    EXPECT_TRUE(IsGreyRamp(*pgm));

    // Either palette order keeps black black and white white.
    for (const auto &entries : {std::pair{clBlack, clWhite}, std::pair{clWhite, clBlack}}) {
        auto bits = RandomPicture(pf1bit, 8);
        bits->SetPaletteEntry(0, entries.first);
        bits->SetPaletteEntry(1, entries.second);
        const auto back = RoundTrip(*bits, "pbm");
        EXPECT_EQ(back->GetPixelFormat(), pf1bit);
        EXPECT_TRUE(SameColours(*bits, *back));
    }
}

// --- Forms the decoded pictures take -----------------------------------------

TEST(QtCodec, GifComesBackWithItsOwnPaletteAndIndices)
{
    const std::vector<QRgb> colours{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(10, 20, 30), qRgb(200, 100, 50)};
    std::vector<std::uint8_t> indices(29 * 13);
    std::mt19937 random(9);
    for (auto &i : indices) i = static_cast<std::uint8_t>(random() % colours.size());

    const auto gif = Decoded(MakeGif(29, 13, colours, indices));
    ASSERT_EQ(gif->GetPixelFormat(), pf8bit);
    for (std::size_t i = 0; i < colours.size(); ++i) EXPECT_EQ(gif->GetPalette()[i], RGB(qRed(colours[i]), qGreen(colours[i]), qBlue(colours[i])));
    EXPECT_EQ(gif->GetPalette()[200], clBlack);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 29; ++x) ASSERT_EQ(gif->Row(y)[x], indices[std::size_t(y * 29 + x)]);

    // A transparent colour that some pixel uses needs an alpha channel.
    const auto transparent = Decoded(MakeGif(29, 13, colours, indices, 3));
    ASSERT_EQ(transparent->GetPixelFormat(), pf32bit);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 29; ++x) ASSERT_EQ(Alpha(*transparent, x, y) == 0, indices[std::size_t(y * 29 + x)] == 3);
}

TEST(QtCodec, IconsReadWithTheirColoursAndAlpha)
{
    const auto opaque = RandomPicture(pf24bit, 12, 32, 32);
    const auto icon = RoundTrip(*opaque, "ico");
    EXPECT_EQ(icon->GetPixelFormat(), pf24bit);
    EXPECT_TRUE(SameColours(*opaque, *icon));

    QImage translucent(16, 16, QImage::Format_ARGB32);
    translucent.fill(qRgba(0, 0, 0, 0));
    translucent.setPixel(3, 4, qRgba(255, 255, 255, 255));
    const auto back = Decoded(WrittenByQt(translucent, "ico"));
    ASSERT_EQ(back->GetPixelFormat(), pf32bit);
    EXPECT_EQ(Alpha(*back, 3, 4), 255);
    EXPECT_EQ(back->GetPixel(3, 4), clWhite);
    EXPECT_EQ(Alpha(*back, 5, 4), 0);
}

TEST(QtCodec, ImagesBecomeTheSmallestExactBitmap)
{
    TBitmap bitmap;

    // 1-bit, least significant bit first, comes out most significant bit first.
    QImage lsb(11, 3, QImage::Format_MonoLSB);
    lsb.setColorTable({qRgb(1, 2, 3), qRgb(250, 240, 230)});
    lsb.fill(0);
    lsb.setPixel(0, 0, 1);
    lsb.setPixel(9, 2, 1);
    BitmapFromQImage(lsb, bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf1bit);
    EXPECT_EQ(bitmap.Row(0)[0], 0x80);
    EXPECT_EQ(bitmap.Row(2)[1], 0x40);
    EXPECT_EQ(bitmap.GetPixel(9, 2), RGB(250, 240, 230));
    EXPECT_EQ(bitmap.GetPixel(8, 2), RGB(1, 2, 3));
    // Bits past the last pixel are 0, whatever the image held there.
    lsb.fill(1);
    BitmapFromQImage(lsb, bitmap);
    EXPECT_EQ(bitmap.Row(1)[1], 0xE0);

    // Indexed grey that is not the ramp: indices become grey levels.
    QImage fourGreys(5, 2, QImage::Format_Indexed8);
    fourGreys.setColorTable({qRgb(0, 0, 0), qRgb(85, 85, 85), qRgb(170, 170, 170), qRgb(255, 255, 255)});
    for (int x = 0; x < 5; ++x) fourGreys.setPixel(x, 0, x % 4);
    fourGreys.scanLine(1)[0] = 200; // outside the table: black
    BitmapFromQImage(fourGreys, bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf8bit);
    EXPECT_TRUE(IsGreyRamp(bitmap));
    EXPECT_EQ(bitmap.Row(0)[1], 85);
    EXPECT_EQ(bitmap.Row(0)[4], 0);
    EXPECT_EQ(bitmap.Row(1)[0], 0);

    // A transparent table entry counts only where a pixel uses it.
    QImage indexed(4, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(9, 8, 7), qRgba(0, 0, 0, 0), qRgb(1, 200, 3)});
    indexed.fill(0);
    indexed.setPixel(2, 0, 2);
    BitmapFromQImage(indexed, bitmap);
    EXPECT_EQ(bitmap.GetPixelFormat(), pf8bit);
    EXPECT_EQ(bitmap.GetPixel(2, 0), RGB(1, 200, 3));
    indexed.setPixel(3, 0, 1);
    BitmapFromQImage(indexed, bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf32bit);
    EXPECT_EQ(Alpha(bitmap, 3, 0), 0);
    EXPECT_EQ(Alpha(bitmap, 2, 0), 255);

    // 16 bits a channel go to 8, alpha unpremultiplied.
    QImage wide(3, 1, QImage::Format_RGBA64);
    wide.setPixelColor(0, 0, QColor(10, 20, 30, 40));
    wide.setPixelColor(1, 0, QColor(255, 0, 128, 255));
    wide.setPixelColor(2, 0, QColor(0, 0, 0, 0));
    BitmapFromQImage(wide, bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf32bit);
    EXPECT_EQ(0, std::memcmp(bitmap.Row(0), "\x1e\x14\x0a\x28\x80\x00\xff\xff", 8));
    QImage grey16(2, 1, QImage::Format_Grayscale16);
    reinterpret_cast<quint16 *>(grey16.scanLine(0))[0] = 0x8080;
    reinterpret_cast<quint16 *>(grey16.scanLine(0))[1] = 0xFFFF;
    BitmapFromQImage(grey16, bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf8bit);
    EXPECT_EQ(bitmap.Row(0)[0], 0x80);
    EXPECT_EQ(bitmap.Row(0)[1], 0xFF);

    // Alpha that is everywhere 255 is dropped; RGB byte order is turned to B, G, R.
    QImage opaque(2, 1, QImage::Format_ARGB32);
    opaque.fill(qRgba(10, 20, 30, 255));
    BitmapFromQImage(opaque, bitmap);
    EXPECT_EQ(bitmap.GetPixelFormat(), pf24bit);
    QImage rgb888(2, 1, QImage::Format_RGB888);
    rgb888.fill(qRgb(10, 20, 30));
    BitmapFromQImage(rgb888, bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf24bit);
    EXPECT_EQ(0, std::memcmp(bitmap.Row(0), "\x1e\x14\x0a\x1e\x14\x0a", 6));

    BitmapFromQImage(QImage(), bitmap);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(QtCodec, ImagesOfBitmapsShareTheirRowsAndShowTheirColours)
{
    for (TPixelFormat format : AllPixelFormats) {
        SCOPED_TRACE(BitsPerPixel(format));
        const auto bitmap = RandomPicture(format, 21);
        QImage image = QImageFromBitmap(*bitmap);
        ASSERT_EQ(image.size(), QSize(bitmap->GetWidth(), bitmap->GetHeight()));
        EXPECT_EQ(image.constBits() == bitmap->Row(0), format != pf4bit);
        // Qt widens 5- and 6-bit channels by bit replication: within 1 of ours.
        const int tolerance = format == pf15bit || format == pf16bit ? 1 : 0;
        for (int y = 0; y < bitmap->GetHeight(); ++y)
            for (int x = 0; x < bitmap->GetWidth(); ++x) {
                const QRgb shown = image.pixel(x, y);
                const TColor c = bitmap->GetPixel(x, y);
                ASSERT_LE(std::abs(qRed(shown) - GetRValue(c)), tolerance);
                ASSERT_LE(std::abs(qGreen(shown) - GetGValue(c)), tolerance);
                ASSERT_LE(std::abs(qBlue(shown) - GetBValue(c)), tolerance);
                if (format == pf32bit) {
                    ASSERT_EQ(qAlpha(shown), Alpha(*bitmap, x, y));
                }
            }
        // Painting on the image copies it first: the bitmap stays as it was.
        const auto before = RandomPicture(format, 21);
        image.fill(0);
        EXPECT_TRUE(SameBitmap(*before, *bitmap));
    }
}

// --- Refusals ------------------------------------------------------------------

TEST(QtCodec, BytesThatAreNoPictureOrAreCutOffAreRefusedAndLeaveTheBitmap)
{
    const auto picture = RandomPicture(pf24bit, 31, 120, 90);
    const QByteArray png = Encoded(*picture, "png");
    const QByteArray jpeg = Encoded(*picture, "jpg");
    std::vector<std::uint8_t> indices(120 * 90, 1);
    const QByteArray gif = MakeGif(120, 90, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, indices);
    const struct {
        const char *what;
        QByteArray bytes;
        std::string reason;
    } cases[] = {
        {"text", QByteArray("just some words\n"), NotAPicture},
        {"zeros", QByteArray(4096, '\0'), NotAPicture},
        {"two zero bytes, then anything", QByteArray("\0\0\x10\x10", 4) + QByteArray(64, '\xff'), NotAPicture},
        {"PNG cut in half", png.left(png.size() / 2), Damaged},
        {"PNG signature only", png.left(8), Damaged},
        {"JPEG cut in half", jpeg.left(jpeg.size() / 2), Damaged},
        {"JPEG without its end marker", jpeg.left(jpeg.size() - 2), Damaged},
        {"GIF cut in half", gif.left(gif.size() / 2), Damaged},
        {"TIFF cut in half", Encoded(*picture, "tiff").left(500), Damaged},
        {"WebP cut in half", Encoded(*picture, "webp").left(300), Damaged},
        {"PPM cut in half", Encoded(*picture, "ppm").left(1000), Damaged},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const TDecodedOver over = DecodedOverAPicture(DecodeWithQt, c.bytes);
        EXPECT_EQ(over.message, c.reason);
        EXPECT_TRUE(over.pictureKept);
    }
    // Bytes after a JPEG's end marker are no damage.
    EXPECT_EQ(Decoded(jpeg + QByteArray(100, 'x'))->GetWidth(), 120);
}

TEST(QtCodec, HugeHeadersAreRefusedWithTheirSizeBeforeAnyPixelIsAllocated)
{
    TBitmap bitmap;
    EXPECT_EQ(MessageOf([&] { DecodeWithQt(Bytes(PngClaiming(100000, 100000)), bitmap); }),
              "the picture is 100000 x 100000 pixels, which would take 28611 MiB; this program handles pictures of less than 2048 MiB");
    // PBM, PGM and PPM are ours to read (pnm_codec.h), at any size the bitmap holds.
    EXPECT_EQ(MessageOf([&] { DecodePicture(Bytes(QByteArray("P5\n100000 100000\n255\n") + QByteArray(64, 'x')), bitmap); }),
              "the picture is 100000 x 100000 pixels, which would take 9537 MiB; this program handles pictures of less than 2048 MiB");
    // GIF readers do not say their form: the 32 bits a pixel Qt decodes into count.
    std::vector<std::uint8_t> few(16, 0);
    QByteArray gif = MakeGif(4, 4, {qRgb(0, 0, 0)}, few);
    for (int at : {6, 8, 786, 788}) {
        gif[at] = '\x40';
        gif[at + 1] = '\x9c';
    }
    EXPECT_EQ(MessageOf([&] { DecodeWithQt(Bytes(gif), bitmap); }),
              "the picture is 40000 x 40000 pixels, which would take 6104 MiB; this program handles pictures of less than 2048 MiB");
    EXPECT_TRUE(bitmap.Empty());
    // Within our limit but beyond what Qt's PGM reader takes.
    EXPECT_EQ(DecodePicture(Bytes(QByteArray("P5 40000 2 255\n") + QByteArray(80000, 'x')), bitmap).missing, 0);
    EXPECT_EQ(bitmap.GetWidth(), 40000);
}

// The limit is strict: a picture of exactly 2 GiB would have byte offsets
// that no int holds.
TEST(QtCodec, SizeCheckAllowsUpToJustBelowTheLimit)
{
    EXPECT_NO_THROW(CheckPictureFits(65536, 32767, pf8bit));
    EXPECT_NO_THROW(CheckPictureFits(2147483644, 1, pf8bit));
    EXPECT_NE(MessageOf([] { CheckPictureFits(65536, 32768, pf8bit); }).find("which would take 2048 MiB"), std::string::npos);
    EXPECT_NE(MessageOf([] { CheckPictureFits(2147483645, 1, pf8bit); }).find("which would take 2048 MiB"), std::string::npos);
    EXPECT_NO_THROW(CheckPictureFits(100000, 100000, pf1bit));
    EXPECT_EQ(MessageOf([] { CheckPictureFits(65536, 32769, pf8bit); }),
              "the picture is 65536 x 32769 pixels, which would take 2049 MiB; this program handles pictures of less than 2048 MiB");
    EXPECT_NE(MessageOf([] { CheckPictureFits(2147483647, 2147483647, pf32bit); }).find("which would take"), std::string::npos);
}

// Opening may take twice the picture's bytes and 256 MiB, the program's
// own 64 MiB included: up to the byte, and the message says by how much.
TEST(QtCodec, OpeningMemoryIsAllowedUpToTwiceThePictureAnd256MiB)
{
    const std::uint64_t picture = 100 * MiBBytes, allowed = 2 * picture + 256 * MiBBytes - 64 * MiBBytes;
    EXPECT_TRUE(OpeningFits(allowed, picture));
    EXPECT_FALSE(OpeningFits(allowed + 1, picture));
    EXPECT_NO_THROW(CheckOpeningMemory(10, 20, QStringLiteral("PNG"), allowed, picture));
    EXPECT_EQ(MessageOf([&] { CheckOpeningMemory(10, 20, QStringLiteral("PNG"), allowed + 1, picture, QStringLiteral("why")); }),
              "the picture is 10 x 20 pixels; opening this PNG picture would take about 457 MiB of memory, more than the "
              "456 MiB this program allows for a picture of 100 MiB; why");
}

TEST(QtCodec, WritingRefusesWhatTheFormatCannotHold)
{
    TBitmap empty;
    EXPECT_EQ(MessageOf([&] { Encoded(empty, "png"); }), "there is no picture to save");
    const auto wide = MakeBitmap(16384, 1, pf24bit);
    EXPECT_EQ(MessageOf([&] { Encoded(*wide, "webp"); }),
              "the picture is 16384 x 1 pixels; WebP pictures can be at most 16383 pixels wide and high");
    const auto tall = MakeBitmap(1, 65501, pf8bit);
    EXPECT_EQ(MessageOf([&] { Encoded(*tall, "jpg"); }),
              "the picture is 1 x 65501 pixels; JPEG pictures can be at most 65500 pixels wide and high");
    TPictureFileFormatInfo unknown = PictureFileFormatInfo(TPictureFileFormat::Png);
    unknown.name = "XYZ";
    unknown.qtName = "xyz";
    EXPECT_EQ(MessageOf([&] { EncodeWithQt(*wide, unknown); }),
              "this program cannot write XYZ pictures: the Qt image plugin for them is not installed");
}

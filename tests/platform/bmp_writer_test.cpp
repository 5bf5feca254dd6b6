// BMP writing: every pixel format in its own depth and palette, back unchanged.
#include "platform/bmp_codec.h"
#include "support/pictures.h"

#include <QImage>

#include <gtest/gtest.h>

#include <random>

namespace {

const TPixelFormat AllFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

std::span<const std::uint8_t> Bytes(const QByteArray &data)
{
    return {reinterpret_cast<const std::uint8_t *>(data.constData()), static_cast<std::size_t>(data.size())};
}

std::uint32_t U32(const QByteArray &data, int at)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData()) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Random pixels and, for palette formats, a random palette.
std::unique_ptr<TBitmap> RandomPicture(int width, int height, TPixelFormat format, std::uint32_t seed)
{
    auto bitmap = MakeBitmap(width, height, format);
    FillRandomBytes(*bitmap, seed);
    // The layout's unused top bit of 5-5-5 pixels is 0.
    if (format == pf15bit)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) bitmap->GetScanline(y)[2 * x + 1] &= 0x7F;
    if (HasPalette(format)) {
        std::mt19937 random(seed);
        TPalette palette{};
        for (int i = 0; i < bitmap->PaletteSize(); ++i) palette[static_cast<std::size_t>(i)] = TColor(random() & 0xFFFFFF);
        bitmap->SetPalette(palette);
    }
    return bitmap;
}

} // namespace

TEST(BmpWriter, EveryFormatAndAwkwardWidthComesBackWithEveryPixelAndItsPalette)
{
    for (TPixelFormat format : AllFormats)
        for (int width : {1, 3, 7, 31, 33}) {
            SCOPED_TRACE(testing::Message() << "format " << format << ", width " << width);
            const auto original = RandomPicture(width, 5, format, static_cast<std::uint32_t>(format * 100 + width));
            const QByteArray file = EncodeBmp(*original);
            TBitmap reopened;
            ASSERT_NO_THROW(DecodeBmp(Bytes(file), reopened));
            if (format != pf4bit) {
                EXPECT_TRUE(SameBitmap(*original, reopened));
                continue;
            }
            // Reading gives 4-bit pictures one byte an index: same indices, same palette.
            ASSERT_EQ(reopened.GetPixelFormat(), pf8bit);
            EXPECT_TRUE(SameColours(*original, reopened));
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < width; ++x)
                    EXPECT_EQ(reopened.GetScanline(y)[x], (original->GetScanline(y)[x / 2] >> (x % 2 ? 0 : 4)) & 15);
            for (int i = 16; i < 256; ++i) EXPECT_EQ(reopened.GetPalette()[static_cast<std::size_t>(i)], clBlack);
        }
}

TEST(BmpWriter, WritesEachFormatInItsOwnDepthWithZeroPaddingAndOtherReadersAgree)
{
    struct TExpected {
        TPixelFormat format;
        std::uint32_t headerSize, bits, compression, colours;
    };
    const TExpected cases[] = {
        {pf1bit, 40, 1, 0, 2},   {pf4bit, 40, 4, 0, 16},  {pf8bit, 40, 8, 0, 256}, {pf15bit, 40, 16, 0, 0},
        {pf16bit, 40, 16, 3, 0}, {pf24bit, 40, 24, 0, 0}, {pf32bit, 108, 32, 3, 0},
    };
    for (const TExpected &expected : cases) {
        SCOPED_TRACE(testing::Message() << "format " << expected.format);
        const int width = 5, height = 3;
        const auto picture = RandomPicture(width, height, expected.format, 7);
        const QByteArray file = EncodeBmp(*picture);
        ASSERT_GE(file.size(), 54);
        EXPECT_EQ(U32(file, 2), std::uint32_t(file.size()));
        EXPECT_EQ(U32(file, 14), expected.headerSize);
        EXPECT_EQ(U32(file, 28) & 0xFFFF, expected.bits);
        EXPECT_EQ(U32(file, 30), expected.compression);
        EXPECT_EQ(U32(file, 46), expected.colours);
        if (expected.format == pf32bit) {
            EXPECT_EQ(U32(file, 14 + 52), 0xFF000000u) << "alpha mask";
        }

        const std::uint32_t pixelsAt = U32(file, 10);
        const std::size_t rowBytes = (width * expected.bits + 31) / 32 * 4;
        ASSERT_EQ(file.size(), pixelsAt + rowBytes * height);
        const std::size_t pixelBits = width * expected.bits;
        for (int row = 0; row < height; ++row)
            for (std::size_t bit = pixelBits; bit < rowBytes * 8; ++bit)
                ASSERT_FALSE((file[int(pixelsAt + row * rowBytes + bit / 8)] >> (7 - bit % 8)) & 1) << "row " << row << " bit " << bit;

        // Qt's own reader sees the same colours; it widens 5- and 6-bit channels by a shift alone.
        const QImage other = QImage::fromData(file, "BMP");
        ASSERT_FALSE(other.isNull());
        const int tolerance = expected.format == pf15bit || expected.format == pf16bit ? 7 : 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const TColor ours = picture->GetPixel(x, y);
                const QRgb theirs = other.pixel(x, y);
                EXPECT_NEAR(GetRValue(ours), qRed(theirs), tolerance);
                EXPECT_NEAR(GetGValue(ours), qGreen(theirs), tolerance);
                EXPECT_NEAR(GetBValue(ours), qBlue(theirs), tolerance);
            }
    }
}

TEST(BmpWriter, RefusesAnEmptyPicture)
{
    TBitmap empty;
    try {
        EncodeBmp(empty);
        FAIL() << "an empty picture was encoded";
    } catch (const Exception &error) {
        EXPECT_EQ(error.Message(), QStringLiteral("there is no picture to save"));
    }
}

// TBitmap::SetPixelFormat: conversions between every pair of pixel formats.
#include "platform/pictures/bitmap.h"
#include "platform/base/parallel_pieces.h"
#include "support/pictures.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>

namespace {


std::unique_ptr<TBitmap> Copy(const TBitmap &bitmap)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(&bitmap);
    return copy;
}

std::set<TColor> ColoursOf(const TBitmap &bitmap)
{
    std::set<TColor> colours;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) colours.insert(bitmap.GetPixel(x, y));
    return colours;
}

bool PaddingIsZero(const TBitmap &bitmap)
{
    const int used = bitmap.GetWidth() * BitsPerPixel(bitmap.GetPixelFormat());
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int bit = used; bit < 8 * static_cast<int>(bitmap.BytesPerRow()); ++bit)
            if ((bitmap.GetScanline(y)[bit / 8] >> (7 - bit % 8)) & 1) return false;
    return true;
}

// Mean absolute difference per channel between two pictures of one size.
double MeanAbsoluteError(const TBitmap &a, const TBitmap &b)
{
    double sum = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x) {
            const TColor p = a.GetPixel(x, y), q = b.GetPixel(x, y);
            sum += std::abs(GetRValue(p) - GetRValue(q)) + std::abs(GetGValue(p) - GetGValue(q))
                   + std::abs(GetBValue(p) - GetBValue(q));
        }
    return sum / (3.0 * a.GetWidth() * a.GetHeight());
}

} // namespace

TEST(PixelFormatConversion, DirectColourTargetsTakeEachPixelsColourFromEveryFormat)
{
    for (TPixelFormat from : AllPixelFormats)
        for (TPixelFormat to : {pf15bit, pf16bit, pf24bit, pf32bit}) {
            if (from == to) continue;
            auto bitmap = Noise(13, 4, from, 40 + from * 10 + to, TNoisePalette::Random);
            // The expected colours go through SetPixel, which rounds as the target does.
            auto expected = MakeBitmap(13, 4, to);
            FillColours(*expected, [&](int x, int y) { return bitmap->GetPixel(x, y); });
            bitmap->SetPixelFormat(to);
            EXPECT_EQ(bitmap->GetPixelFormat(), to);
            EXPECT_TRUE(SameColours(*bitmap, *expected)) << "from " << from << " to " << to;
            EXPECT_TRUE(PaddingIsZero(*bitmap)) << "from " << from << " to " << to;
            for (int y = 0; y < 4 && to == pf32bit; ++y)
                for (int x = 0; x < 13; ++x) ASSERT_EQ(bitmap->GetScanline(y)[4 * x + 3], 255);
        }
}

TEST(PixelFormatConversion, SameFormatLeavesEveryByteAlone)
{
    for (TPixelFormat format : AllPixelFormats) {
        auto bitmap = Noise(9, 3, format, 5, TNoisePalette::Random);
        auto original = Copy(*bitmap);
        bitmap->SetPixelFormat(format);
        EXPECT_TRUE(SameBitmap(*bitmap, *original)) << "format " << format;
    }
    auto device = Noise(5, 2, pf32bit, 6, TNoisePalette::Random);
    auto original = Copy(*device);
    device->SetPixelFormat(pfDevice);
    EXPECT_TRUE(SameBitmap(*device, *original));
}

TEST(PixelFormatConversion, DeviceMeansThirtyTwoBitsAndCustomIsRefused)
{
    auto bitmap = Noise(4, 4, pf24bit, 8, TNoisePalette::Random);
    auto original = Copy(*bitmap);
    try {
        bitmap->SetPixelFormat(pfCustom);
        ADD_FAILURE() << "no exception";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("custom pixel format"))) << e.what();
    }
    EXPECT_TRUE(SameBitmap(*bitmap, *original));
    bitmap->SetPixelFormat(pfDevice);
    EXPECT_EQ(bitmap->GetPixelFormat(), pf32bit);
    EXPECT_TRUE(SameColours(*bitmap, *original));
}

TEST(PixelFormatConversion, GreyPicturesBecomeGreyLevelIndices)
{
    for (TPixelFormat from : {pf1bit, pf4bit, pf24bit, pf32bit}) {
        // Grey-ramp palettes (MakeBitmap) for palette sources, grey colours otherwise.
        auto bitmap = MakeBitmap(21, 5, from);
        if (HasPalette(from)) {
            FillRandomBytes(*bitmap, 9);
        } else {
            std::mt19937 random(from);
            FillColours(*bitmap, [&](int, int) { const int v = random() % 256; return RGB(v, v, v); });
        }
        auto original = Copy(*bitmap);
        bitmap->SetPixelFormat(pf8bit);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(bitmap->GetPalette()[static_cast<std::size_t>(i)], RGB(i, i, i));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 21; ++x)
                ASSERT_EQ(bitmap->GetScanline(y)[x], GetRValue(original->GetPixel(x, y))) << "from " << from;
    }
}

TEST(PixelFormatConversion, PicturesOfFewColoursKeepEachColourExactly)
{
    std::mt19937 random(11);
    std::vector<TColor> colours(256);
    for (TColor &c : colours) c = static_cast<TColor>(random() & 0xFFFFFF);
    colours[0] = RGB(10, 20, 30);
    // Exactly 256 colours, each used at least once, to pf8bit from every direct format.
    for (TPixelFormat from : {pf24bit, pf32bit}) {
        auto bitmap = MakeBitmap(256, 3, from);
        FillColours(*bitmap, [&](int x, int y) { return colours[static_cast<std::size_t>((x + 37 * y) % 256)]; });
        auto original = Copy(*bitmap);
        bitmap->SetPixelFormat(pf8bit);
        EXPECT_TRUE(SameColours(*bitmap, *original)) << "from " << from;
        const std::set<TColor> palette(bitmap->GetPalette().begin(), bitmap->GetPalette().end());
        EXPECT_EQ(palette, ColoursOf(*original));
    }
    // Palette formats keep their colours where the target holds them all.
    const std::pair<TPixelFormat, TPixelFormat> pairs[] = {{pf1bit, pf4bit}, {pf1bit, pf8bit}, {pf4bit, pf8bit},
                                                           {pf8bit, pf4bit}, {pf8bit, pf1bit}, {pf4bit, pf1bit},
                                                           {pf16bit, pf4bit}, {pf24bit, pf1bit}};
    for (auto [from, to] : pairs) {
        const int kept = to == pf1bit ? 2 : 16;
        auto bitmap = Noise(19, 6, from, 12, TNoisePalette::Random);
        FillColours(*bitmap, [&](int x, int y) { return bitmap->GetPixel((x * 7 + y) % kept, 0); });
        auto original = Copy(*bitmap);
        bitmap->SetPixelFormat(to);
        EXPECT_TRUE(SameColours(*bitmap, *original)) << "from " << from << " to " << to;
        EXPECT_TRUE(PaddingIsZero(*bitmap)) << "from " << from << " to " << to;
    }
}

TEST(PixelFormatConversion, ManyColoursGetAnAdaptivePaletteThatKeepsBlackWhiteAndItsOwnColours)
{
    for (int count : {257, 5000}) {
        std::mt19937 random(static_cast<std::uint32_t>(count));
        std::vector<TColor> colours(static_cast<std::size_t>(count));
        for (TColor &c : colours) c = static_cast<TColor>(random() & 0xFFFFFF);
        colours[0] = clBlack;
        colours[1] = clWhite;
        auto bitmap = MakeBitmap(count, 2, pf24bit);
        FillColours(*bitmap, [&](int x, int) { return colours[static_cast<std::size_t>(x)]; });
        auto original = Copy(*bitmap);
        bitmap->SetPixelFormat(pf8bit);
        EXPECT_EQ(bitmap->GetPixel(0, 1), clBlack);
        EXPECT_EQ(bitmap->GetPixel(1, 1), 16777215);
        const TPalette &palette = bitmap->GetPalette();
        const std::set<TColor> entries(palette.begin(), palette.end());
        EXPECT_GE(entries.size(), 250u) << count << " colours";
        for (int x = 0; x < count; ++x)
            if (entries.count(original->GetPixel(x, 0))) {
                ASSERT_EQ(bitmap->GetPixel(x, 0), original->GetPixel(x, 0));
            }
        // 257 scattered colours leave room for nearly all of them.
        if (count == 257) {
            EXPECT_LT(MeanAbsoluteError(*bitmap, *original), 1.0);
        }
    }
}

// More pixels than the palette's choice counts: every other row is left
// out of the count, yet black and white found only there keep entries of
// their own, whichever thread looks at those rows.
TEST(PixelFormatConversion, BlackAndWhiteOnlyInRowsLeftOutOfTheCountKeepTheirExactColours)
{
    constexpr int width = 2048, height = 8200;
    auto picture = Noise(width, height, pf24bit, 9);
    // Random bytes bring black and white by chance; none may stay.
    for (int y = 0; y < height; ++y)
        for (std::uint8_t *p = picture->Row(y), *end = p + 3 * width; p < end; p += 3)
            if ((p[0] == 0 && p[1] == 0 && p[2] == 0) || (p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF)) p[0] ^= 1;
    // Odd rows: the count takes rows 0, 2, 4, ...
    picture->SetPixel(5, 1, clBlack);
    picture->SetPixel(7, height - 1, clWhite);
    for (unsigned threads : {1u, 2u}) {
        auto converted = Copy(*picture);
        {
            const TPiecesHeld held(threads, 1 << 16);
            converted->SetPixelFormat(pf8bit);
        }
        EXPECT_EQ(converted->GetPixel(5, 1), clBlack) << threads << " threads";
        EXPECT_EQ(converted->GetPixel(7, height - 1), clWhite) << threads << " threads";
    }
}

// A palette entry beside a closer one in the same cell of the quantizer's
// grid: black, and the dark grey that the many RGB(6, 6, 6) pixels bring.
// Black keeps its own entry, though the cell's nearest to its centre is
// the grey.
TEST(PixelFormatConversion, AnEntryBesideACloserOneInItsCellKeepsItsExactColour)
{
    auto bitmap = MakeBitmap(64, 64, pf24bit);
    FillColours(*bitmap, [](int x, int y) {
        if (y < 16) return clBlack;
        if (y < 32) return RGB(6, 6, 6);
        return RGB(x * 4, (y - 32) * 8, 200);
    });
    auto original = Copy(*bitmap);
    bitmap->SetPixelFormat(pf8bit);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(bitmap->GetPixel(x, y), clBlack) << x << ", " << y;
    EXPECT_NE(bitmap->GetPixel(0, 16), clBlack);
}

TEST(PixelFormatConversion, ManyColoursToFourAndOneBit)
{
    auto bitmap = MakeBitmap(64, 64, pf24bit);
    FillColours(*bitmap, [](int x, int y) { return RGB(4 * x, 4 * y, (x * y) % 256); });
    bitmap->SetPixel(0, 0, clWhite);
    auto original = Copy(*bitmap);

    auto four = Copy(*original);
    four->SetPixelFormat(pf4bit);
    EXPECT_EQ(four->GetPixel(0, 0), clWhite);
    EXPECT_LT(MeanAbsoluteError(*four, *original), 40.0);
    EXPECT_GT(ColoursOf(*four).size(), 8u);

    // One bit: black and white, whichever is nearer.
    auto one = Copy(*original);
    one->SetPixelFormat(pf1bit);
    EXPECT_EQ(one->GetPalette()[0], clBlack);
    EXPECT_EQ(one->GetPalette()[1], clWhite);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const TColor c = original->GetPixel(x, y);
            const int sum = GetRValue(c) + GetGValue(c) + GetBValue(c);
            ASSERT_EQ(one->GetPixel(x, y), sum > 382 ? clWhite : clBlack) << x << "," << y;
        }
    EXPECT_TRUE(PaddingIsZero(*one));
}

TEST(PixelFormatConversion, SignalsOneChangeAndHandlesEmptyPictures)
{
    auto bitmap = Noise(30, 30, pf24bit, 13, TNoisePalette::Random);
    int changes = 0;
    bitmap->SetOnChange([&] { ++changes; });
    bitmap->SetPixelFormat(pf8bit);
    EXPECT_EQ(changes, 1);
    for (auto size : {std::pair{0, 5}, std::pair{5, 0}})
        for (TPixelFormat to : AllPixelFormats) {
            auto empty = MakeBitmap(size.first, size.second, pf24bit);
            empty->SetPixelFormat(to);
            EXPECT_EQ(empty->GetPixelFormat(), to);
            EXPECT_EQ(empty->GetWidth(), size.first);
        }
}

TEST(PixelFormatConversion, PhotographsComeOutNoWorseThanTheReferenceQuantizer)
{
    SKIP_WITHOUT_CORPORA(corpora);
    // Mean absolute error per channel of `convert -colors 256 +dither`.
    const std::pair<const char *, double> photos[] = {{"astronaut.png", 2.5}, {"coffee.png", 2.2}};
    for (auto [name, limit] : photos) {
        QImage image(corpora + QStringLiteral("/photos/") + QLatin1String(name));
        ASSERT_FALSE(image.isNull()) << name;
        image = image.convertToFormat(QImage::Format_RGB888);
        TBitmap photo;
        photo.Allocate(image.width(), image.height(), pf24bit);
        for (int y = 0; y < image.height(); ++y) {
            const uchar *from = image.constScanLine(y);
            std::uint8_t *to = photo.GetScanline(y);
            for (int x = 0; x < image.width(); ++x) {
                to[3 * x] = from[3 * x + 2];
                to[3 * x + 1] = from[3 * x + 1];
                to[3 * x + 2] = from[3 * x];
            }
        }
        auto converted = Copy(photo);
        converted->SetPixelFormat(pf8bit);
        const double error = MeanAbsoluteError(photo, *converted);
        std::printf("%s: mean absolute error %.3f a channel (limit %.1f)\n", name, error, limit);
        EXPECT_LE(error, limit) << name;
    }
}

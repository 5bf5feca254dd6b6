// The fast paths of pixel access against plain definitions, on awkward sizes.
#include "platform/pictures/canvas.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// A channel of `max` levels widened to 8 bits, rounded to nearest.
int Widened(int v, int max) { return static_cast<int>(std::lround(v * 255.0 / max)); }

// Pixel (x, y) read straight from the row bytes as bitmap.h lays them out.
TColor PlainPixel(const TBitmap &bitmap, int x, int y)
{
    const std::uint8_t *row = bitmap.GetScanline(y);
    const TPalette &palette = bitmap.GetPalette();
    switch (bitmap.GetPixelFormat()) {
    case pf1bit: return palette[(row[x / 8] >> (7 - x % 8)) & 1];
    case pf4bit: return palette[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15];
    case pf8bit: return palette[row[x]];
    case pf15bit: {
        const int v = row[2 * x] | row[2 * x + 1] << 8;
        return RGB(Widened((v >> 10) & 31, 31), Widened((v >> 5) & 31, 31), Widened(v & 31, 31));
    }
    case pf16bit: {
        const int v = row[2 * x] | row[2 * x + 1] << 8;
        return RGB(Widened((v >> 11) & 31, 31), Widened((v >> 5) & 63, 63), Widened(v & 31, 31));
    }
    case pf24bit: return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    default: return RGB(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
}

// The lowest palette index among those nearest to the colour.
int PlainNearest(const TPalette &palette, int entries, TColor colour)
{
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < entries; ++i) {
        const TColor p = palette[static_cast<std::size_t>(i)];
        const long dr = GetRValue(p) - GetRValue(colour), dg = GetGValue(p) - GetGValue(colour),
                   db = GetBValue(p) - GetBValue(colour);
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

TEST(PixelAccess, GetPixelReadsEveryPixelAsTheRowBytesSayUpToTheLastByteOfThePicture)
{
    std::uint32_t seed = 1;
    for (TPixelFormat format : AllPixelFormats)
        for (int width : AwkwardWidths)
            for (int height : {1, 2, 3}) {
                auto bitmap = MakeBitmap(width, height, format);
                FillRandomBytes(*bitmap, ++seed);
                TCanvas *canvas = bitmap->GetCanvas();
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        ASSERT_EQ(canvas->GetPixel(x, y), PlainPixel(*bitmap, x, y))
                            << "format " << format << ", " << width << " x " << height << " at " << x << ", " << y;
                EXPECT_EQ(bitmap->GetPixel(width, 0), clBlack);
                EXPECT_EQ(bitmap->GetPixel(0, height), clBlack);
                EXPECT_EQ(bitmap->GetPixel(-1, 0), clBlack);
                EXPECT_EQ(bitmap->GetPixel(0, -1), clBlack);
                EXPECT_EQ(bitmap->GetPixel(std::numeric_limits<int>::min(), std::numeric_limits<int>::max()), clBlack);
            }
}

// 5- and 6-bit channels read as their fixed widened values, and written
// back give the same bits.
TEST(PixelAccess, FiveAndSixBitChannelsReadAsTheirFixedWidenedValues)
{
    for (TPixelFormat format : {pf15bit, pf16bit}) {
        const TWideningProbe probe = WideningProbe(format);
        TBitmap &picture = *probe.picture;
        for (int x = 0; x < picture.GetWidth(); ++x) {
            EXPECT_EQ(picture.GetPixel(x, 0), probe.colours[std::size_t(x)]) << format << ", " << x;
            const int word = picture.GetScanline(0)[2 * x] | picture.GetScanline(0)[2 * x + 1] << 8;
            picture.SetPixel(x, 0, picture.GetPixel(x, 0));
            EXPECT_EQ(picture.GetScanline(0)[2 * x] | picture.GetScanline(0)[2 * x + 1] << 8, word) << format << ", " << x;
        }
    }
}

TEST(PixelAccess, SetPixelWritesOnlyItsOwnPixelInEveryWholeByteFormat)
{
    std::mt19937 random(5);
    for (TPixelFormat format : {pf15bit, pf16bit, pf24bit, pf32bit})
        for (int width : AwkwardWidths) {
            auto bitmap = MakeBitmap(width, 2, format);
            FillRandomBytes(*bitmap, random());
            TBitmap before;
            before.Assign(bitmap.get());
            const int x = static_cast<int>(random() % static_cast<unsigned>(width));
            const TColor colour = static_cast<TColor>(random() & 0xFFFFFF) | static_cast<TColor>(0x7F000000);
            bitmap->SetPixel(x, 1, colour);
            const int bytes = BitsPerPixel(format) / 8;
            for (int y = 0; y < 2; ++y)
                for (int i = 0; i < static_cast<int>(bitmap->BytesPerRow()); ++i)
                    if (y != 1 || i / bytes != x) {
                        ASSERT_EQ(bitmap->GetScanline(y)[i], before.GetScanline(y)[i]) << "format " << format << ", byte " << i;
                    }
            const std::uint8_t *p = bitmap->GetScanline(1) + bytes * x;
            if (format == pf24bit || format == pf32bit) {
                EXPECT_EQ(RGB(p[2], p[1], p[0]), colour & 0xFFFFFF);
                if (format == pf32bit) {
                    EXPECT_EQ(p[3], 255);
                }
            } else {
                const TColor back = bitmap->GetPixel(x, 1);
                EXPECT_LE(std::abs(GetRValue(back) - GetRValue(colour)), 4);
                EXPECT_LE(std::abs(GetBValue(back) - GetBValue(colour)), 4);
            }
            bitmap->SetPixel(width, 0, colour);
            bitmap->SetPixel(0, -1, colour);
        }
}

// Far along rows wider than 65536 bytes, in every format: each pixel
// written changes only its own bits, and reads back as the plain
// definition says.
TEST(PixelAccess, SetPixelFarAlongWideRowsChangesOnlyItsOwnBits)
{
    std::mt19937 random(11);
    const int width = 140000;
    for (TPixelFormat format : AllPixelFormats) {
        auto bitmap = MakeBitmap(width, 2, format);
        FillRandomBytes(*bitmap, random());
        TPalette palette{};
        for (TColor &c : palette) c = static_cast<TColor>(random() & 0xFFFFFF);
        if (HasPalette(format)) bitmap->SetPalette(palette);
        for (int x : {0, 1, 7, 32767, 32768, 65535, 65536, 65537, 100001, width - 1}) {
            TBitmap before;
            before.Assign(bitmap.get());
            const TColor colour = HasPalette(format) ? palette[static_cast<std::size_t>(random() % 2)]
                                                     : static_cast<TColor>(random() & 0xFFFFFF);
            bitmap->SetPixel(x, 1, colour);
            const int bits = BitsPerPixel(format);
            for (int y = 0; y < 2; ++y)
                for (int i = 0; i < static_cast<int>(bitmap->BytesPerRow()); ++i) {
                    const int first = x * bits / 8, last = ((x + 1) * bits - 1) / 8;
                    if (y == 1 && i >= first && i <= last) continue;
                    ASSERT_EQ(bitmap->GetScanline(y)[i], before.GetScanline(y)[i]) << "format " << format << ", x " << x << ", byte " << i;
                }
            // Only the pixel's own bits of a shared byte change.
            for (int other = (x * bits / 8) * 8 / bits; other < ((x * bits / 8) + 1) * 8 / bits && bits < 8; ++other)
                if (other != x) {
                    ASSERT_EQ(PlainPixel(*bitmap, other, 1), PlainPixel(before, other, 1)) << format << ", " << other;
                }
            ASSERT_EQ(bitmap->GetPixel(x, 1), PlainPixel(*bitmap, x, 1)) << "format " << format << ", x " << x;
            if (format == pf15bit || format == pf16bit) {
                ASSERT_LE(std::abs(GetRValue(bitmap->GetPixel(x, 1)) - GetRValue(colour)), 4) << format << ", " << x;
            } else {
                ASSERT_EQ(bitmap->GetPixel(x, 1), colour) << "format " << format << ", x " << x;
            }
        }
    }
}

// Many colours whose recent-lookup slots collide, asked for over and over,
// with duplicates in the palette, colours that are no entry, and colours
// with a top byte (which no lookup holds; it counts for nothing).
TEST(PixelAccess, SetPixelOnPalettesGivesTheLowestNearestEntryThroughEveryLookup)
{
    std::mt19937 random(9);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit}) {
        auto bitmap = MakeBitmap(61, 3, format);
        const int entries = bitmap->PaletteSize();
        TPalette palette{};
        for (int i = 0; i < entries; ++i) palette[static_cast<std::size_t>(i)] = static_cast<TColor>(random() & 0xFFFFFF);
        palette[static_cast<std::size_t>(entries - 1)] = palette[0];
        bitmap->SetPalette(palette);
        std::vector<TColor> asked(palette.begin(), palette.begin() + entries);
        for (int i = 0; i < 300; ++i) asked.push_back(static_cast<TColor>(random() & 0xFFFFFF));
        for (int i = 0; i < entries + 20; ++i) asked.push_back(asked[static_cast<std::size_t>(i)] | static_cast<TColor>(0x5A000000));
        for (int round = 0; round < 3; ++round)
            for (std::size_t i = 0; i < asked.size(); ++i) {
                const int x = static_cast<int>(i % 61), y = static_cast<int>(i / 61 % 3);
                bitmap->SetPixel(x, y, asked[i]);
                const int expected = PlainNearest(palette, entries, asked[i] & 0xFFFFFF);
                ASSERT_EQ(bitmap->GetPixel(x, y), palette[static_cast<std::size_t>(expected)]) << "format " << format << ", colour " << i;
                ASSERT_EQ(bitmap->PaletteIndexOf(asked[i]), expected) << "format " << format << ", colour " << i;
            }
        // A new palette is looked up afresh.
        palette[0] = RGB(1, 2, 3);
        bitmap->SetPalette(palette);
        EXPECT_EQ(bitmap->PaletteIndexOf(RGB(1, 2, 3)), 0);
    }
}

// The lookups SetPixel uses are those of the palette the pixels have: made
// when a palette picture gets pixels, moved with them by TakeOver, and
// none needed by a picture without pixels, which still finds the entry.
TEST(PixelAccess, PaletteLookupsFollowThePixelsThroughTakeOverAndAPictureWithoutPixelsStillFindsItsEntry)
{
    std::mt19937 random(4);
    TPalette first{}, second{};
    for (std::size_t i = 0; i < 256; ++i) {
        first[i] = static_cast<TColor>(random() & 0xFFFFFF);
        second[i] = static_cast<TColor>(random() & 0xFFFFFF);
    }
    auto source = MakeBitmap(9, 2, pf8bit);
    source->SetPalette(first);
    // A palette picture whose lookups have seen its own colours.
    auto target = MakeBitmap(5, 5, pf8bit);
    target->SetPalette(second);
    for (int i = 0; i < 25; ++i) target->SetPixel(i % 5, i / 5, second[static_cast<std::size_t>(i)]);
    target->TakeOver(*source);
    for (std::size_t i = 0; i < 18; ++i) {
        const TColor colour = first[i * 13];
        target->SetPixel(static_cast<int>(i % 9), static_cast<int>(i / 9), colour);
        ASSERT_EQ(target->GetScanline(static_cast<int>(i / 9))[i % 9], PlainNearest(first, 256, colour)) << i;
    }
    // The colours the target's old palette held are no entries of the new one.
    for (std::size_t i = 0; i < 25; ++i) {
        target->SetPixel(0, 0, second[i]);
        ASSERT_EQ(target->GetScanline(0)[0], PlainNearest(first, 256, second[i])) << i;
    }
    // The source, empty, and a picture that has a palette before it has pixels.
    EXPECT_EQ(source->PaletteIndexOf(first[77]), PlainNearest(first, 256, first[77]));
    TBitmap later;
    later.Allocate(0, 0, pf8bit);
    later.SetPalette(second);
    EXPECT_EQ(later.PaletteIndexOf(second[200] | 0x7F000000), PlainNearest(second, 256, second[200]));
    later.Allocate(3, 1, pf8bit);
    later.SetPixel(2, 0, second[200]);
    EXPECT_EQ(later.GetScanline(0)[2], PlainNearest(second, 256, second[200]));
}

} // namespace

// Writers choose a form with alpha by it: a single pixel barely short of
// opaque, in the last row and column, must count.
TEST(PixelAccess, AnyTranslucentFindsAnAlphaShortOf255AnywhereInThePicture)
{
    TBitmap picture;
    picture.SetPixelFormat(pf32bit);
    picture.SetSize(5, 3);
    for (int y = 0; y < 3; ++y) std::memset(picture.Row(y), 255, 4 * 5);
    EXPECT_FALSE(AnyTranslucent(picture));
    picture.Row(2)[4 * 4 + 3] = 254;
    EXPECT_TRUE(AnyTranslucent(picture));
}

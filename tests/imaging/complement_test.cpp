// Complement: the negative of each row's first Width bytes.
#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

TEST(Complement, TwiceGivesTheOriginalInEveryFormat)
{
    for (TPixelFormat format : AllPixelFormats)
        for (int width : {1, 3, 7, 33}) {
            auto bitmap = MakeBitmap(width, 5, format);
            FillRandomBytes(*bitmap, static_cast<std::uint32_t>(width * 10 + format));
            TBitmap original;
            original.Assign(bitmap.get());
            Complement(*bitmap);
            EXPECT_FALSE(SameBitmap(*bitmap, original));
            Complement(*bitmap);
            EXPECT_TRUE(SameBitmap(*bitmap, original)) << "format " << format << " width " << width;
        }
}

TEST(Complement, MapsEachByteToItsNegative)
{
    auto bitmap = MakeBitmap(3, 1, pf8bit);
    std::uint8_t *row = bitmap->GetScanline(0);
    row[0] = 0;
    row[1] = 128;
    row[2] = 255;
    Complement(*bitmap);
    EXPECT_EQ(row[0], 255);
    EXPECT_EQ(row[1], 127);
    EXPECT_EQ(row[2], 0);
}

TEST(Complement, ChangesOnlyTheFirstWidthBytesOfAThreeByteRow)
{
    auto bitmap = MakeBitmap(4, 2, pf24bit);
    Complement(*bitmap);
    for (int y = 0; y < 2; ++y) {
        const std::uint8_t *row = bitmap->GetScanline(y);
        for (int x = 0; x < static_cast<int>(bitmap->BytesPerRow()); ++x) EXPECT_EQ(row[x], x < 4 ? 255 : 0) << "byte " << x;
    }
    // The first pixel turns white, the second only in its blue byte.
    EXPECT_EQ(bitmap->GetPixel(0, 0), clWhite);
    EXPECT_EQ(bitmap->GetPixel(1, 0), clBlue);
}

TEST(Complement, InvertsEveryBitOfAOneBitPictureAndNoPadding)
{
    auto bitmap = MakeBitmap(10, 1, pf1bit);
    Complement(*bitmap);
    const std::uint8_t *row = bitmap->GetScanline(0);
    EXPECT_EQ(row[0], 0xFF);
    EXPECT_EQ(row[1] & 0xC0, 0xC0);
    EXPECT_EQ(row[2], 0);
    EXPECT_EQ(row[3], 0);
}

// The bits after the last pixel of a row belong to no pixel: left as they
// are, Edge Detection (which reads whole bytes) gives the same result on a
// complemented picture as on the same pixels made afresh.
TEST(Complement, LeavesTheBitsBeyondTheWidthAlone)
{
    auto bitmap = MakeBitmap(10, 3, pf1bit);
    Complement(*bitmap);
    EXPECT_EQ(bitmap->GetScanline(0)[1], 0xC0);
    auto nibbles = MakeBitmap(3, 1, pf4bit);
    Complement(*nibbles);
    EXPECT_EQ(nibbles->GetScanline(0)[1], 0xF0);

    for (int width : {1, 10, 13, 35}) {
        auto complemented = MakeBitmap(width, 6, pf1bit);
        FillColours(*complemented, [](int x, int y) { return (x * 3 + y) % 5 < 2 ? clWhite : clBlack; });
        Complement(*complemented);
        auto fresh = MakeBitmap(width, 6, pf1bit);
        FillColours(*fresh, [](int x, int y) { return (x * 3 + y) % 5 < 2 ? clBlack : clWhite; });
        ASSERT_TRUE(SameBitmap(*complemented, *fresh)) << "width " << width;
        EdgeDetection(*complemented);
        EdgeDetection(*fresh);
        EXPECT_TRUE(SameBitmap(*complemented, *fresh)) << "width " << width;
    }
}

TEST(Complement, LeavesEmptyPicturesAlone)
{
    for (auto size : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        auto bitmap = MakeBitmap(size.first, size.second, pf8bit);
        EXPECT_NO_THROW(Complement(*bitmap));
        EXPECT_EQ(bitmap->GetWidth(), size.first);
        EXPECT_EQ(bitmap->GetHeight(), size.second);
    }
}

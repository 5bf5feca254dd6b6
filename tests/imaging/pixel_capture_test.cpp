// Pixel capture: conversion to pf8bit, then every pixel's colour into PixelTable[x][y].
#include "imaging/pixel_capture.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <random>

TEST(PixelCapture, StoresEachColourColumnFirstAfterTheConversion)
{
    auto bitmap = MakeBitmap(7, 5, pf24bit);
    FillColours(*bitmap, [](int x, int y) { return RGB(30 * x, 40 * y, 200); });
    CapturePixels(*bitmap);
    EXPECT_EQ(bitmap->GetPixelFormat(), pf8bit);
    const int *cells = &PixelTable[0][0];
    for (int x = 0; x < 7; ++x)
        for (int y = 0; y < 5; ++y) {
            EXPECT_EQ(PixelTable[x][y], bitmap->GetPixel(x, y));
            EXPECT_EQ(cells[x * 512 + y], RGB(30 * x, 40 * y, 200));
        }
}

TEST(PixelCapture, WhiteAtTheTwoSampleCellsReadsSixteenMillion)
{
    auto bitmap = MakeBitmap(301, 250, pf24bit);
    std::mt19937 random(3);
    FillColours(*bitmap, [&](int, int) { return static_cast<TColor>(random() & 0xFFFFFF); });
    bitmap->SetPixel(2, 2, clWhite);
    bitmap->SetPixel(200, 200, clWhite);
    CapturePixels(*bitmap);
    EXPECT_EQ(PixelTable[2][2], 16777215);
    EXPECT_EQ(PixelTable[200][200], 16777215);
}

TEST(PixelCapture, SmallerPictureLeavesOtherCellsAsTheyWere)
{
    PixelTable[200][200] = 12345;
    PixelTable[10][3] = 777;
    auto bitmap = MakeBitmap(150, 180, pf8bit);
    CapturePixels(*bitmap);
    EXPECT_EQ(PixelTable[200][200], 12345);
    EXPECT_EQ(PixelTable[10][3], 0);
}

TEST(PixelCapture, LargerPictureFillsTheTableAndNothingBeyondIt)
{
    // The sanitizer build would report any write past the table.
    auto bitmap = MakeBitmap(600, 700, pf32bit);
    FillColours(*bitmap, [](int x, int y) { return RGB(x % 256, y % 256, 7); });
    CapturePixels(*bitmap);
    EXPECT_EQ(PixelTable[511][511], bitmap->GetPixel(511, 511));
    EXPECT_EQ(PixelTable[300][10], bitmap->GetPixel(300, 10));
    EXPECT_EQ(bitmap->GetWidth(), 600);
    EXPECT_EQ(bitmap->GetHeight(), 700);
}

TEST(PixelCapture, EmptyPictureCapturesNothing)
{
    PixelTable[0][0] = 42;
    auto bitmap = MakeBitmap(0, 9, pf24bit);
    CapturePixels(*bitmap);
    EXPECT_EQ(bitmap->GetPixelFormat(), pf8bit);
    EXPECT_EQ(PixelTable[0][0], 42);
}

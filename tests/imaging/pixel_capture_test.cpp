// Pixel capture: conversion to pf8bit, then every pixel's colour into PixelTable[x][y].
#include "imaging/pixel_capture.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <vector>

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
    // A table with guard cells after its end, as many as a capture of every
    // pixel of the picture would reach.
    std::vector<int> cells(600 * 512 + 700, -1);
    auto large = MakeBitmap(600, 700, pf24bit);
    FillColours(*large, [](int x, int y) { return RGB(x % 256, y % 256, 7); });
    CapturePixelsInto(*large, std::span<int, 512 * 512>(cells.data(), 512 * 512));
    for (std::size_t i = 512 * 512; i < cells.size(); ++i) ASSERT_EQ(cells[i], -1) << "guard cell " << i - 512 * 512;
    for (int x = 0; x < 512; ++x)
        for (int y = 0; y < 512; ++y) ASSERT_EQ(cells[std::size_t(x) * 512 + std::size_t(y)], large->GetPixel(x, y)) << x << ", " << y;

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

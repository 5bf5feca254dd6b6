// Rendering the exposed part of a picture at a shown size.
#include "platform/pictures/picture_view.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

namespace {

QRgb Rgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

} // namespace

TEST(PictureView, AtItsOwnSizeShowsEveryColourExactlyInEveryFormat)
{
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        auto bitmap = MakeBitmap(13, 5, format);
        FillRandomBytes(*bitmap, 7);
        const QImage view = RenderPictureView(*bitmap, QSize(13, 5), QRect(0, 0, 13, 5));
        ASSERT_EQ(view.size(), QSize(13, 5));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x)
                ASSERT_EQ(view.pixel(x, y), Rgb(bitmap->GetPixel(x, y))) << "format " << format << " at " << x << ", " << y;
    }
}

// 5- and 6-bit channels show as their fixed widened values.
TEST(PictureView, FiveAndSixBitChannelsShowAsTheirFixedWidenedValues)
{
    for (TPixelFormat format : {pf15bit, pf16bit}) {
        const TWideningProbe probe = WideningProbe(format);
        const int width = probe.picture->GetWidth();
        const QImage view = RenderPictureView(*probe.picture, QSize(width, 1), QRect(0, 0, width, 1));
        for (int x = 0; x < width; ++x) EXPECT_EQ(view.pixel(x, 0), Rgb(probe.colours[std::size_t(x)])) << format << ", " << x;
    }
}

TEST(PictureView, EnlargesWithSharpPixelsAndReducesByAveraging)
{
    auto bitmap = MakeBitmap(4, 2, pf24bit);
    FillColours(*bitmap, [](int x, int y) { return RGB(x * 60, y * 100, 10); });
    const QImage doubled = RenderPictureView(*bitmap, QSize(8, 4), QRect(0, 0, 8, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(doubled.pixel(x, y), Rgb(bitmap->GetPixel(x / 2, y / 2)));

    const QImage halved = RenderPictureView(*bitmap, QSize(2, 1), QRect(0, 0, 2, 1));
    EXPECT_EQ(halved.pixel(0, 0), qRgb(30, 50, 10));
    EXPECT_EQ(halved.pixel(1, 0), qRgb(150, 50, 10));

    // Averages that are not whole are rounded to nearest, halves up.
    auto pair = MakeBitmap(2, 1, pf24bit);
    pair->SetPixel(1, 0, RGB(255, 1, 3));
    EXPECT_EQ(RenderPictureView(*pair, QSize(1, 1), QRect(0, 0, 1, 1)).pixel(0, 0), qRgb(128, 1, 2));
}

TEST(PictureView, RendersOnlyTheExposedPartAndNothingBeyondThePicture)
{
    auto bitmap = MakeBitmap(100, 80, pf8bit);
    FillRandomBytes(*bitmap, 3);
    const QSize shown(133, 106);
    const QImage whole = RenderPictureView(*bitmap, shown, QRect(0, 0, 133, 106));
    const QRect part(40, 30, 50, 20);
    EXPECT_EQ(RenderPictureView(*bitmap, shown, part), whole.copy(part));
    EXPECT_EQ(RenderPictureView(*bitmap, shown, QRect(120, 100, 50, 50)).size(), QSize(13, 6));
    EXPECT_TRUE(RenderPictureView(*bitmap, shown, QRect(200, 200, 10, 10)).isNull());
    EXPECT_TRUE(RenderPictureView(*bitmap, QSize(0, 0), QRect(0, 0, 10, 10)).isNull());
}

// Rendering the exposed part of a picture at a shown size.
#include "platform/pictures/picture_view.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

namespace {

QRgb Rgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

} // namespace

TEST(PictureView, AtItsOwnSizeShowsEveryColourExactlyInEveryFormat)
{
    for (TPixelFormat format : AllPixelFormats) {
        auto bitmap = MakeBitmap(13, 5, format);
        FillRandomBytes(*bitmap, 7);
        // Opaque: the colours, not the board, must show.
        if (format == pf32bit)
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x) bitmap->GetScanline(y)[4 * x + 3] = 255;
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

namespace {

// A 32-bit picture of one stored colour and one alpha everywhere.
std::unique_ptr<TBitmap> Translucent(int width, int height, TColor colour, std::uint8_t alpha)
{
    auto bitmap = MakeBitmap(width, height, pf32bit);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = bitmap->GetScanline(y) + 4 * x;
            p[0] = GetBValue(colour);
            p[1] = GetGValue(colour);
            p[2] = GetRValue(colour);
            p[3] = alpha;
        }
    return bitmap;
}

unsigned Board(int x, int y) { return ((x / CheckerSide + y / CheckerSide) % 2) ? CheckerDark : CheckerLight; }

} // namespace

TEST(PictureView, ClearPixelsShowTheCheckerboardFixedToTheControlAtEveryZoom)
{
    // Alpha 0 over a stored colour: the colour must not show.
    auto clear = Translucent(40, 24, RGB(255, 0, 255), 0);
    for (QSize shown : {QSize(40, 24), QSize(80, 48), QSize(10, 6), QSize(53, 32)}) {
        const QRect part(3, 5, shown.width() - 3, shown.height() - 5);
        const QImage view = RenderPictureView(*clear, shown, part);
        for (int y = 0; y < view.height(); ++y)
            for (int x = 0; x < view.width(); ++x) {
                const unsigned grey = Board(part.left() + x, part.top() + y);
                ASSERT_EQ(view.pixel(x, y), qRgb(grey, grey, grey))
                    << shown.width() << " x " << shown.height() << " at " << x << ", " << y;
            }
    }
    // The board has both greys, in squares of the stated side.
    const QImage view = RenderPictureView(*clear, QSize(40, 24), QRect(0, 0, 40, 24));
    EXPECT_EQ(view.pixel(0, 0), qRgb(CheckerLight, CheckerLight, CheckerLight));
    EXPECT_EQ(view.pixel(CheckerSide - 1, 0), view.pixel(0, 0));
    EXPECT_EQ(view.pixel(CheckerSide, 0), qRgb(CheckerDark, CheckerDark, CheckerDark));
    EXPECT_EQ(view.pixel(CheckerSide, CheckerSide), view.pixel(0, 0));
}

TEST(PictureView, APictureWithoutAlphaShowsItsColoursWhateverItsFourthByteHolds)
{
    // A 32-bit picture read without alpha, whose fourth bytes an operation
    // set to 0: it shows as stored, never the board.
    auto unused = Translucent(2, 2, RGB(10, 20, 30), 0);
    unused->SetAlphaChannel(TAlphaChannel::Unused);
    const QImage view = RenderPictureView(*unused, QSize(2, 2), QRect(0, 0, 2, 2));
    EXPECT_EQ(view.pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(view.pixel(1, 1), qRgb(10, 20, 30));
}

TEST(PictureView, TranslucentPixelsBlendWithTheBoardAndOpaqueOnesShowAsStored)
{
    // Half-clear red over the light square: each channel half-way.
    const QImage half = RenderPictureView(*Translucent(2, 2, RGB(255, 0, 0), 128), QSize(2, 2), QRect(0, 0, 2, 2));
    const auto blend = [](unsigned c) { return static_cast<int>((c * 128 + CheckerLight * 127 + 127) / 255); };
    EXPECT_EQ(half.pixel(0, 0), qRgb(blend(255), blend(0), blend(0)));

    auto opaque = Translucent(2, 2, RGB(10, 20, 30), 255);
    EXPECT_EQ(RenderPictureView(*opaque, QSize(2, 2), QRect(0, 0, 2, 2)).pixel(1, 1), qRgb(10, 20, 30));

    // Reduced: a clear pixel's stored colour counts for nothing in the average.
    auto pair = Translucent(2, 1, RGB(0, 0, 255), 255);
    std::uint8_t *second = pair->GetScanline(0) + 4;
    second[0] = 0;
    second[1] = 255;
    second[2] = 0;
    second[3] = 0;
    const QImage reduced = RenderPictureView(*pair, QSize(1, 1), QRect(0, 0, 1, 1));
    const int board = static_cast<int>((CheckerLight + 1) / 2);
    EXPECT_EQ(reduced.pixel(0, 0), qRgb(board, board, (255 + CheckerLight + 1) / 2));
}

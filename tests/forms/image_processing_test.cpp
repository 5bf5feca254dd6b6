// The Image Processing and View commands, through the real menus, on
// pictures nobody on the project made.
#include "main_window_fixture.h"

#include "platform/picture_files.h"

#include <vector>

namespace {

std::vector<std::uint8_t> RowBytes(const TBitmap &bitmap, int y, int count)
{
    const std::uint8_t *row = bitmap.GetScanline(y);
    return {row, row + count};
}

// The clamped periodic Laplacian of the first `width` bytes of each row.
std::vector<std::vector<std::uint8_t>> PlainLaplacian(const TBitmap &bitmap, int width)
{
    const int height = bitmap.GetHeight();
    std::vector<std::vector<std::uint8_t>> out(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (dx || dy)
                        sum += bitmap.GetScanline((y + dy + height) % height)[(x + dx + width) % width];
            const int v = 8 * bitmap.GetScanline(y)[x] - sum;
            out[static_cast<std::size_t>(y)].push_back(static_cast<std::uint8_t>(std::clamp(v, 0, 255)));
        }
    return out;
}

} // namespace

class ImageProcessingTest : public MainWindowTest {
protected:
    // Opens one of the public suite's pictures through File -> Open.
    bool OpenSuitePicture(const char *name)
    {
        const std::optional<QString> corpora = CorporaDir();
        if (!corpora) return false;
        OpenWithShortcut(*corpora + "/bmpsuite-good/g/" + name);
        return !Shown().Empty();
    }
};

TEST_F(ImageProcessingTest, EdgeDetectionGivesTheClampedPeriodicLaplacian)
{
    for (const char *name : {"pal8gs.bmp", "rgb24.bmp", "pal8w125.bmp"}) {
        if (!OpenSuitePicture(name)) GTEST_SKIP() << "shared test pictures not found beside the repository";
        const auto expected = PlainLaplacian(Shown(), Shown().GetWidth());
        Form().EdgeDetection1->trigger();
        for (int y = 0; y < Shown().GetHeight(); ++y)
            ASSERT_EQ(RowBytes(Shown(), y, Shown().GetWidth()), expected[static_cast<std::size_t>(y)])
                << name << " row " << y;
    }
}

TEST_F(ImageProcessingTest, ComplementInvertsTheGreyLevelsOfAGreyPicture)
{
    if (!OpenSuitePicture("pal8gs.bmp")) GTEST_SKIP() << "shared test pictures not found beside the repository";
    TBitmap before;
    before.Assign(&Shown());
    Form().Complement1->trigger();
    for (int y = 0; y < before.GetHeight(); ++y)
        for (int x = 0; x < before.GetWidth(); ++x)
            ASSERT_EQ(Shown().GetScanline(y)[x], 255 - before.GetScanline(y)[x]);
}

TEST_F(ImageProcessingTest, FlipRotateMirrorsEveryPixelAndTwiceRestoresIt)
{
    for (const char *name : {"pal1.bmp", "pal4rle.bmp", "rgb16-565.bmp", "rgb24.bmp", "rgb32bf.bmp"}) {
        if (!OpenSuitePicture(name)) GTEST_SKIP() << "shared test pictures not found beside the repository";
        TBitmap before;
        before.Assign(&Shown());
        Form().FlipRotate1->trigger();
        const int width = before.GetWidth();
        for (int y = 0; y < before.GetHeight(); ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(Shown().GetPixel(x, y), before.GetPixel(width - 1 - x, y)) << name << " at " << x << ", " << y;
        Form().FlipRotate1->trigger();
        EXPECT_TRUE(SameBitmap(Shown(), before)) << name;
    }
}

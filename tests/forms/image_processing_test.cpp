// The Image Processing and View commands, through the real menus, on
// pictures nobody on the project made.
#include "support/main_window_fixture.h"

#include "imaging/pixel_capture.h"
#include "platform/files/picture_files.h"

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

// The table is static and never cleared: CTest runs each test in a process
// of its own, where this one starts before any capture.
TEST(PixelCaptureThroughTheForm, ShowsZeroBeforeAnyCaptureThenTheCapturedColours)
{
    TForm1 form(nullptr);
    Form1 = &form;
    const bool fresh = PixelTable[2][2] == 0 && PixelTable[200][200] == 0;
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    if (fresh) {
        EXPECT_EQ(form.Edit2->GetText(), "0");
        EXPECT_EQ(form.Edit3->GetText(), "0");
    }

    // 300 x 250, white at (2, 2) and (200, 200) among colours enough to
    // need an adaptive palette.
    auto picture = MakeBitmap(300, 250, pf24bit);
    FillColours(*picture, [](int x, int y) { return RGB(x % 256, y % 256, (x * y) % 256); });
    picture->SetPixel(2, 2, clWhite);
    picture->SetPixel(200, 200, clWhite);
    form.Image1->GetPicture()->GetBitmap()->Assign(picture.get());
    form.Thresholding1->trigger();
    EXPECT_EQ(form.Image1->GetPicture()->GetBitmap()->GetPixelFormat(), pf8bit);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(form.Edit2->GetText(), "16777215");
    EXPECT_EQ(form.Edit3->GetText(), "16777215");

    // A smaller capture leaves (200, 200) as it was.
    auto small = MakeBitmap(50, 50, pf24bit);
    FillColours(*small, [](int, int) { return RGB(1, 2, 3); });
    form.Image1->GetPicture()->GetBitmap()->Assign(small.get());
    form.Thresholding1->trigger();
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(form.Edit2->GetText(), QString::number(RGB(1, 2, 3)));
    EXPECT_EQ(form.Edit3->GetText(), "16777215");
    Form1 = nullptr;
}

TEST_F(ImageProcessingTest, ThresholdingCapturesThePictureAfterItsConversion)
{
    if (!OpenSuitePicture("rgb24.bmp")) GTEST_SKIP() << "shared test pictures not found beside the repository";
    Form().Thresholding1->trigger();
    ASSERT_EQ(Shown().GetPixelFormat(), pf8bit);
    QTest::mouseClick(Form().Button1, Qt::LeftButton);
    EXPECT_EQ(Form().Edit2->GetText(), QString::number(Shown().GetPixel(2, 2)));
    // The suite's picture is 127 x 64: cell (200, 200) is beyond it.
    EXPECT_EQ(Form().Edit3->GetText(), QString::number(PixelTable[200][200]));
}

TEST_F(ImageProcessingTest, EveryCommandKeepsWhatThePicturesFileCarried)
{
    const TPictureMetadata metadata = EveryKindOfMetadata();
    for (QAction *command : {Form().Complement1, Form().EdgeDetection1, Form().FlipRotate1, Form().Thresholding1}) {
        SCOPED_TRACE(command->text().toStdString());
        auto picture = MakeBitmap(20, 10, pf24bit);
        FillRandomBytes(*picture, 20);
        picture->SetMetadata(metadata);
        ShowPicture(*picture);
        command->trigger();
        EXPECT_EQ(Shown().GetMetadata(), metadata);
    }
}

// A BMP file stored bottom row first is opened into a bitmap that keeps
// its rows so in memory. Every operation, the view and every writer give
// what they give for the same picture held top down, on one thread and two.
#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/file_formats.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/picture_files.h"
#include "platform/pictures/picture_view.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/independent_writers.h"
#include "support/thread_splits.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {

// The same picture, its rows top down.
std::unique_ptr<TBitmap> TopDownCopy(const TBitmap &picture)
{
    auto copy = std::make_unique<TBitmap>();
    copy->SetPalette(picture.GetPalette());
    copy->Allocate(picture.GetWidth(), picture.GetHeight(), picture.GetPixelFormat());
    copy->SetAlphaChannel(picture.GetAlphaChannel());
    copy->SetMetadata(picture.GetMetadata());
    for (int y = 0; y < picture.GetHeight(); ++y) std::memcpy(copy->Row(y), picture.Row(y), picture.BytesPerRow());
    return copy;
}

std::unique_ptr<TBitmap> Copy(const TBitmap &picture)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(&picture);
    return copy;
}

// Pillow's bottom-up BMP of the mode, opened as a user opens it; its rows
// as the whole file decodes them.
std::unique_ptr<TBitmap> Opened(const QTemporaryDir &folder, int width, const QString &mode)
{
    const QByteArray file = PillowWritten(width, 23, QStringLiteral("bmp"), {}, mode);
    EXPECT_FALSE(file.isEmpty());
    const QString path = folder.filePath(mode + QStringLiteral(".bmp"));
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    auto picture = std::make_unique<TBitmap>();
    ReadPictureFile(path, *picture);
    EXPECT_TRUE(SameRowBytes(*picture, *DecodedBy(DecodeBmp, file))) << mode.toStdString();
    return picture;
}

// Each writable format's file of the picture, or the writer's refusal.
std::map<std::string, QByteArray> SavedInEveryFormat(const QTemporaryDir &folder, const TBitmap &picture)
{
    std::map<std::string, QByteArray> files;
    for (const TPictureFileFormatInfo &format : PictureFileFormats()) {
        if (!PictureCodec(format.format).write) continue;
        const QString path = folder.filePath(QStringLiteral("saved.") + QLatin1String(format.extensions[0]));
        try {
            WritePictureFile(path, picture);
            files[format.name] = FileBytes(path);
        } catch (const Exception &refusal) {
            files[format.name] = refusal.Message().toUtf8();
        }
        QFile::remove(path);
    }
    return files;
}

} // namespace

TEST(BottomUpRows, ABottomUpBmpOpensBottomUpAndGivesWhatTheTopDownPictureGives)
{
    SKIP_WITHOUT_PILLOW();
    const QTemporaryDir folder;
    const std::function<void(TBitmap &)> operations[] = {
        Complement, EdgeDetection, MirrorLeftRight, [](TBitmap &b) { b.SetPixelFormat(pf8bit); }, CapturePixels};
    // 8-bit rows 36 pixels wide lie end to end; 37 leaves padding.
    for (int width : {36, 37})
    for (const QString &mode : {QStringLiteral("RGB"), QStringLiteral("L"), QStringLiteral("1"), QStringLiteral("RGBA")}) {
        SCOPED_TRACE(mode.toStdString() + ", " + std::to_string(width) + " wide");
        const auto opened = Opened(folder, width, mode);
        ASSERT_EQ(opened->GetRowOrder(), TRowOrder::BottomUp);
        ASSERT_LT(opened->RowStep(), 0);
        const auto topDown = TopDownCopy(*opened);
        for (const TSplit &split : {Unsplit, TSplit{2, 64}}) {
            SCOPED_TRACE(Describe(split));
            const THeldSplit held(split);
            for (std::size_t i = 0; i < std::size(operations); ++i) {
                const auto up = Copy(*opened), down = Copy(*topDown);
                ASSERT_EQ(up->GetRowOrder(), TRowOrder::BottomUp);
                operations[i](*up);
                operations[i](*down);
                EXPECT_TRUE(SameRowBytes(*up, *down)) << "operation " << i;
            }
            for (QSize shown : {QSize(37, 23), QSize(111, 69), QSize(12, 7)})
                EXPECT_EQ(RenderPictureView(*opened, shown, QRect(QPoint(), shown)), RenderPictureView(*topDown, shown, QRect(QPoint(), shown)));
            // Byte for byte, but for Qt's ICO writer, whose bytes that hold no
            // pixel vary from one save of a picture to the next: its pixels.
            const auto saved = SavedInEveryFormat(folder, *opened);
            for (const auto &[name, file] : SavedInEveryFormat(folder, *topDown)) {
                if (name != "ICO")
                    EXPECT_TRUE(saved.at(name) == file) << name;
                else
                    EXPECT_TRUE(SameRowBytes(*DecodedBy(DecodePicture, saved.at(name)), *DecodedBy(DecodePicture, file))) << name;
            }
        }
    }
}

TEST(BottomUpRows, RowsLieBottomUpUntilTheBitmapIsRemade)
{
    TBitmap picture;
    picture.Allocate(5, 3, pf24bit, TRowOrder::BottomUp);
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(picture.BytesPerRow());
    EXPECT_EQ(picture.RowStep(), -stride);
    EXPECT_EQ(picture.Row(0), picture.RowsBlock(0, 3) + 2 * stride);
    EXPECT_EQ(picture.RowsBlock(1, 3), picture.Row(2));
    picture.SetPixel(4, 0, 0x123456);
    EXPECT_EQ(picture.Row(0)[12], 0x12);
    EXPECT_EQ(picture.GetPixel(4, 0), 0x123456u);

    TBitmap taken;
    taken.TakeOver(picture);
    EXPECT_EQ(taken.GetPixel(4, 0), 0x123456u);
    EXPECT_EQ(taken.GetRowOrder(), TRowOrder::BottomUp);
    const auto converted = Copy(taken);
    converted->SetPixelFormat(pf32bit);
    EXPECT_EQ(converted->GetRowOrder(), TRowOrder::TopDown);
    EXPECT_EQ(converted->GetPixel(4, 0), 0x123456u);
    taken.SetSize(5, 3);
    EXPECT_EQ(taken.GetRowOrder(), TRowOrder::TopDown);
}

// Opening and saving cancelled by the user: nothing they would have changed
// is changed, and the cancellation is not taken for a failure.
#include "platform/base/parallel_pieces.h"
#include "platform/base/work_progress.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/picture_files.h"
#include "platform/files/qt/qt_codec.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

TEST(CancelledWork, AnOpenOrSaveCancelledBeforeItsEndChangesNothingAndIsNoFailure)
{
    QTemporaryDir dir;
    const auto picture = MakeBitmap(64, 48, pf24bit);
    FillRandomBytes(*picture, 7);
    WritePictureFile(dir.filePath("picture.bmp"), *picture);
    const QByteArray old = "an older file";
    PutFile(dir.filePath("old.png"), old);

    TWorkProgress progress;
    progress.Cancel();
    TWorkScope scope(progress);
    for (const char *name : {"old.png", "picture.bmp"}) {
        const auto shown = MakeBitmap(3, 2, pf8bit);
        FillRandomBytes(*shown, 3);
        const auto before = MakeBitmap(3, 2, pf8bit);
        before->Assign(shown.get());
        EXPECT_THROW(WritePictureFile(dir.filePath(name), *picture), ECancelled) << name;
        EXPECT_THROW(ReadPictureFile(dir.filePath("picture.bmp"), *shown), ECancelled) << name;
        EXPECT_TRUE(SameBitmap(*shown, *before));
    }
    EXPECT_EQ(FileBytes(dir.filePath("old.png")), old);
    EXPECT_EQ(Listing(dir.path()), QStringList({"old.png", "picture.bmp"}));
}

// Whenever the cancellation comes, the old file stays whole or the new one
// is complete; no mixture and no unfinished file is ever left, and a save
// that completed refused the cancel.
TEST(CancelledWork, ASaveCancelledAtAnyMomentLeavesTheOldFileOrTheNewOne)
{
    QTemporaryDir dir;
    const auto picture = MakeBitmap(3000, 2000, pf24bit);
    FillRandomBytes(*picture, 11);
    const QString target = dir.filePath("target.bmp");
    const QByteArray old = "an older file, which a cancelled save keeps byte for byte";
    int cancelled = 0;
    for (int delayMs : {0, 1, 2, 4, 8, 16, 32, 64, 128, 256}) {
        PutFile(target, old);
        TWorkProgress progress;
        std::atomic<bool> accepted{false};
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            accepted = progress.Cancel();
        });
        bool wasCancelled = false;
        {
            TWorkScope scope(progress);
            try {
                WritePictureFile(target, *picture);
            } catch (const ECancelled &) {
                wasCancelled = true;
            }
        }
        canceller.join();
        // The cancel holds exactly when the save says it was cancelled: one
        // that came past the point of no return is refused, never reported
        // after the file was replaced.
        EXPECT_EQ(accepted.load(), wasCancelled) << "cancelled after " << delayMs << " ms";
        if (wasCancelled) {
            ++cancelled;
            EXPECT_EQ(FileBytes(target), old) << "cancelled after " << delayMs << " ms";
        } else {
            TBitmap saved;
            ReadPictureFile(target, saved);
            EXPECT_TRUE(SameBitmap(saved, *picture)) << "saved despite a cancel after " << delayMs << " ms";
        }
        EXPECT_EQ(Listing(dir.path()), QStringList({"target.bmp"}));
    }
    // The first cancellations come before the save can have finished.
    EXPECT_GT(cancelled, 0);
}

// Long work is cancelled as soon as a cancel comes while it reports rows
// done, not only before or after: `work` throws ECancelled from its next
// report. The canceller polls from another thread, so a few tries are made
// in case it is not scheduled while the rows go by.
namespace {

// How far into the work the canceller waits for before it cancels: more
// than `after` of it done and less than `before`.
struct TCancelWhen {
    double after = 0, before = 1;
};

// Whether `work` was cancelled half-way; `reached`, when given, is how far
// it reported it was at its end.
bool CancelledHalfway(const std::function<void()> &work, TCancelWhen when = {}, double *reached = nullptr)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        TWorkProgress progress;
        std::atomic<bool> finished{false}, cancelledHalfway{false};
        std::thread canceller([&] {
            while (!finished.load()) {
                const double done = progress.Fraction();
                if (done > when.after && done < when.before) {
                    progress.Cancel();
                    cancelledHalfway = true;
                    return;
                }
            }
        });
        bool threw = false;
        {
            TWorkScope scope(progress);
            try {
                work();
            } catch (const ECancelled &) {
                threw = true;
            }
        }
        finished = true;
        canceller.join();
        if (reached) *reached = progress.Fraction();
        if (threw && cancelledHalfway) return true;
    }
    return false;
}

// Whether opening the file stops half-way, leaving the picture in hand.
bool OpeningStopsHalfway(const QByteArray &file, const char *name)
{
    const auto shown = MakeBitmap(3, 2, pf8bit);
    FillRandomBytes(*shown, 3);
    return CancelledHalfway([&] {
        TBitmap target;
        target.Assign(shown.get());
        try {
            DecodePicture(Bytes(file), target);
        } catch (const ECancelled &) {
            EXPECT_TRUE(SameBitmap(target, *shown)) << name;
            throw;
        }
    });
}

} // namespace

// Opening a JPEG or PNG (interlaced too) stops between bands of rows and
// keeps the picture in hand; saving a JPEG stops between bands and gives no
// file's bytes.
TEST(CancelledWork, JpegAndPngOpeningsAndJpegSavingStopWhileTheirRowsGoBy)
{
    const auto picture = MakeBitmap(3000, 2000, pf24bit);
    FillRandomBytes(*picture, 13);
    PngRecipe interlaced;
    interlaced.width = 3000, interlaced.height = 2000, interlaced.interlaced = true;
    interlaced.sample = [&](int x, int y, int c) { return unsigned(picture->Row(y)[3 * x + c]); };
    const std::pair<const char *, QByteArray> files[] = {{"JPEG", EncodePicture(*picture, TPictureFileFormat::Jpeg)},
                                                         {"PNG", EncodePicture(*picture, TPictureFileFormat::Png)},
                                                         {"interlaced PNG", MakePng(interlaced)}};
    for (const auto &[name, file] : files) EXPECT_TRUE(OpeningStopsHalfway(file, name)) << name << ": never stopped while its rows were decoded";
    EXPECT_TRUE(CancelledHalfway([&] { EncodePicture(*picture, TPictureFileFormat::Jpeg); })) << "JPEG: never stopped while its rows were encoded";
}

// A BMP read from the disk straight into its rows, in parts on every core
// or on one, stops while its parts go by and keeps the picture in hand.
TEST(CancelledWork, ABmpReadStraightFromTheDiskStopsWhileItsRowsAreRead)
{
    QTemporaryDir dir;
    // Bottom-up rows are read as one block, in calls of 16 MiB: two of them.
    const auto picture = MakeBitmap(8192, 4096, pf8bit);
    FillRandomBytes(*picture, 17);
    const QString path = dir.filePath("large.bmp");
    WritePictureFile(path, *picture);
    const auto shown = MakeBitmap(3, 2, pf8bit);
    FillRandomBytes(*shown, 3);
    for (unsigned threads : {1u, 2u}) {
        const TPiecesHeld held(threads);
        // Past the headers' read, before the whole file is in.
        EXPECT_TRUE(CancelledHalfway(
            [&] {
                TBitmap target;
                target.Assign(shown.get());
                try {
                    ReadPictureFile(path, target);
                } catch (const ECancelled &) {
                    EXPECT_TRUE(SameBitmap(target, *shown));
                    throw;
                }
            },
            {0.01, 0.9}))
            << threads << " threads: never stopped while its rows were read";
    }
}

namespace {

// A TIFF with alpha: libtiff reads its strips as it decodes them, through
// our reader as through Qt's.
QByteArray TranslucentTiff(int width, int height)
{
    QImage translucent(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y) {
        auto *line = reinterpret_cast<std::uint32_t *>(translucent.scanLine(y));
        for (int x = 0; x < translucent.width(); ++x) line[x] = static_cast<std::uint32_t>(x * 2654435761u ^ y * 40503u);
    }
    return WrittenByQt(translucent, "tiff");
}

} // namespace

// A TIFF with alpha and a GIF, read a strip or row at a time, are cancelled
// while they are read. The picture in hand stays.
TEST(CancelledWork, QtsReadersCancelledWhileTheyReadTheFileGiveNoPicture)
{
    const QByteArray tiff = TranslucentTiff(3000, 2000);
    std::vector<int> indices(2000 * 1500);
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = int(i * 7 % 256);
    QByteArray gif("GIF89a\xD0\x07\xDC\x05\xF7\0\0", 13);
    for (int c = 0; c < 256; ++c) gif += QByteArray(3, char(c));
    gif += QByteArray(",\0\0\0\0\xD0\x07\xDC\x05\0", 10) + GifLiteralImageData(indices, 8) + ';';
    for (const auto &[name, file] : {std::pair{"TIFF with alpha", tiff}, std::pair{"GIF", gif}}) {
        EXPECT_TRUE(OpeningStopsHalfway(file, name)) << name << ": never stopped while Qt read it";
        // Not cancelled, the same files open.
        TBitmap whole;
        DecodePicture(Bytes(file), whole);
        EXPECT_FALSE(whole.Empty()) << name;
    }
}

// A cancel never makes a read of Qt's reader fail: a C library stopped that
// way may write outside its buffers. Cancelled while it reads the strips,
// the reading still goes through the file, then gives nothing (TIFF is no
// longer left to it, but its reader reads one as it decodes).
TEST(CancelledWork, QtsReadersAreAnsweredEveryReadOnceCancelled)
{
    const QByteArray tiff = TranslucentTiff(3000, 2000);
    double reached = 0;
    // Cancelled while it reads the strips (past the header at the start, and
    // before the directory at the end, which it reads first), in the first
    // half; its last strips lie beyond three quarters of the file.
    EXPECT_TRUE(CancelledHalfway([&] { TBitmap b; DecodeWithQt(Bytes(tiff), b); }, {0.01, 0.5}, &reached));
    EXPECT_GT(reached, 0.75) << "the reader was refused a read once cancelled";
}

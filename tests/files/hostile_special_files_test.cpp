// Pipes, devices and files that change while they are read: opening and
// saving never wait for good, an endless source is cut off at the size
// limit, a file cut short meanwhile never ends the program, and each
// failure names the file and leaves the picture as it was.
#include "platform/base/work_progress.h"
#include "platform/files/disk/file_reading.h"
#include "platform/files/picture.h"
#include "platform/files/picture_files.h"
#include "support/failures.h"
#include "support/pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString MakeFifo(const QTemporaryDir &dir, const char *name)
{
    const QString path = dir.filePath(QLatin1String(name));
    EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    return path;
}

// A picture shown before each open, which every failure must leave as it was.
class SpecialFilesTest : public testing::Test {
protected:
    SpecialFilesTest() { picture_.GetBitmap()->Assign(shown_.get()); }
    void ExpectKept() { EXPECT_TRUE(SameBitmap(*shown_, *picture_.GetBitmap())); }
    std::string OpenMessage(const QString &path) { return MessageOf([&] { picture_.LoadFromFile(path); }); }

    QTemporaryDir dir_;
    std::unique_ptr<TBitmap> shown_ = Pattern(7, 5);
    TPicture picture_;
};

} // namespace

TEST_F(SpecialFilesTest, APipeWithoutAWriterIsRefusedAtOnce)
{
    const QString fifo = MakeFifo(dir_, "nobody-writes.bmp");
    EXPECT_EQ(OpenMessage(fifo), CannotOpen(fifo, QStringLiteral("it is a pipe, and nothing was written to it")));
    ExpectKept();
}

TEST_F(SpecialFilesTest, APictureWrittenSlowlyIntoAPipeOpens)
{
    const QString fifo = MakeFifo(dir_, "slow.bmp");
    const QByteArray bytes = EncodePicture(*Pattern(40, 30), TPictureFileFormat::Bmp);
    std::thread writer([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
        for (qsizetype at = 0; at < bytes.size(); at += 1000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            if (::write(fd, bytes.constData() + at, static_cast<std::size_t>(std::min<qsizetype>(1000, bytes.size() - at))) < 0) break;
        }
        ::close(fd);
    });
    // The writer may not have opened its end yet: the reader waits for the first bytes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(OpenMessage(fifo), NoException);
    writer.join();
    EXPECT_TRUE(SameBitmap(*Pattern(40, 30), *picture_.GetBitmap()));
}

TEST_F(SpecialFilesTest, AWaitOnASilentPipeEndsWhenTheUserCancels)
{
    const QString fifo = MakeFifo(dir_, "silent.bmp");
    // A writer that holds its end open and writes nothing.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR);
    ASSERT_GE(writer, 0);
    TWorkProgress progress;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        progress.Cancel();
    });
    bool cancelled = false;
    {
        TWorkScope scope(progress);
        try {
            picture_.LoadFromFile(fifo);
        } catch (const ECancelled &) {
            cancelled = true;
        }
    }
    canceller.join();
    ::close(writer);
    EXPECT_TRUE(cancelled);
    ExpectKept();
}

TEST_F(SpecialFilesTest, ASilentPipeIsGivenUpAfterAWhileWithoutACancel)
{
    const QString fifo = MakeFifo(dir_, "silent.bmp");
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(OpenMessage(fifo), CannotOpen(fifo, QStringLiteral("nothing could be read from it for %1 seconds").arg(IdleSecondsAllowed)));
    ::close(writer);
    ExpectKept();
}

TEST_F(SpecialFilesTest, AnEndlessDeviceIsCutOffAtTheSizeLimit)
{
    const QString zero = QStringLiteral("/dev/zero");
    if (!QFile::exists(zero)) GTEST_SKIP() << "no /dev/zero here";
    EXPECT_EQ(OpenMessage(zero), CannotOpen(zero, QStringLiteral("it gives more than %1 MiB, more than any picture file this program reads")
                                                             .arg(MaxFileBytes >> 20)));
    ExpectKept();
}

TEST_F(SpecialFilesTest, AFileShorterThanItsStatedSizeIsRefusedAsChanged)
{
    // Files of the kernel state a size of a page and hold a few bytes.
    const QString stated = QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled");
    struct stat st;
    if (::stat(QFile::encodeName(stated).constData(), &st) != 0 || st.st_size < 200)
        GTEST_SKIP() << "no kernel file here that states more bytes than it holds";
    EXPECT_EQ(OpenMessage(stated),
              CannotOpen(stated, QStringLiteral("the file changed while it was being read; open it again once it is written")));
    ExpectKept();
}

// Another program cutting the file short at any moment of the read: the
// open either succeeds or gives a message, and the program goes on.
TEST_F(SpecialFilesTest, AFileCutShortWhileItIsReadNeverEndsTheProgram)
{
    const QString path = dir_.filePath(QStringLiteral("shrinking.bmp"));
    const QByteArray whole = EncodePicture(*Pattern(4000, 2000), TPictureFileFormat::Bmp);
    for (int delayMicroseconds : {0, 200, 1000, 3000, 10000}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(whole), whole.size());
        file.close();
        std::thread cutter([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds));
            EXPECT_EQ(::truncate(QFile::encodeName(path).constData(), 100), 0);
        });
        TPicture picture;
        const std::string message = MessageOf([&] { picture.LoadFromFile(path); });
        cutter.join();
        // Cut before the open, it is a file that ends early, and says so.
        const std::string endsEarly = QStringLiteral("The file %1 ends early").arg(QuotedPath(path)).toStdString();
        if (message != NoException) {
            EXPECT_TRUE(message.starts_with(CannotOpen(path, QString())) || message.starts_with(endsEarly)) << message;
        }
    }
}

TEST_F(SpecialFilesTest, SavingToAPipeWithoutAReaderIsRefusedAtOnce)
{
    const QString fifo = MakeFifo(dir_, "nobody-reads.bmp");
    EXPECT_EQ(MessageOf([&] { picture_.SaveToFile(fifo); }),
              CannotSave(fifo, QStringLiteral("it is a pipe, and no program is reading from it")));
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}

TEST_F(SpecialFilesTest, SavingToAPipeGivesTheReaderThePictureAndAReaderThatStopsIsNamed)
{
    const QString fifo = MakeFifo(dir_, "read.bmp");
    const auto large = Pattern(600, 400);
    picture_.GetBitmap()->Assign(large.get());
    QByteArray received;
    std::thread reader([&] {
        QFile file(fifo);
        if (file.open(QIODevice::ReadOnly)) received = file.readAll();
    });
    // The reader must have its end open before the save starts.
    for (int i = 0; i < 100; ++i) {
        if (MessageOf([&] { picture_.SaveToFile(fifo); }) == NoException) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    reader.join();
    EXPECT_EQ(received, EncodePicture(*large, TPictureFileFormat::Bmp));

    // A reader that takes a few bytes and leaves: a message, not the end of the program.
    std::thread leaver([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY);
        char few[16];
        EXPECT_GT(::read(fd, few, sizeof few), 0);
        ::close(fd);
    });
    std::string message;
    for (int i = 0; i < 100; ++i) {
        message = MessageOf([&] { picture_.SaveToFile(fifo); });
        if (message != CannotSave(fifo, QStringLiteral("it is a pipe, and no program is reading from it"))) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    leaver.join();
    EXPECT_EQ(message, CannotSave(fifo, QStringLiteral("the program reading from the pipe stopped reading")));
}

// Saves that fail in ways the picture file tests leave out: a file size
// limit reached in the middle of writing, and a folder that is a file. Each
// names the file and the reason, keeps an existing file byte for byte and
// leaves nothing behind.
#include "platform/files/picture_files.h"
#include "support/pictures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

QByteArray FileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList Listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

std::string SaveMessage(const QString &path, const TBitmap &bitmap)
{
    try {
        WritePictureFile(path, bitmap);
    } catch (const Exception &error) {
        return error.Message().toStdString();
    }
    return "(no exception)";
}

std::string Expected(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot save %1: %2").arg(QuotedPath(path), reason).toStdString();
}

} // namespace

TEST(HostileSavesDeathTest, AFileSizeLimitReachedWhileWritingKeepsTheOldFileAndLeavesNothing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.png"));
    WritePictureFile(old, *MakeBitmap(8, 8, pf24bit));
    const QByteArray oldBytes = FileBytes(old);
    const QStringList before = Listing(dir.path());
    // Noise does not compress: 120 KiB and more in every format, beyond the 16 KiB allowed.
    auto noise = MakeBitmap(200, 200, pf24bit);
    FillRandomBytes(*noise, 5);

    const auto saveUnderTheLimit = [&] {
        // Writing past the limit then fails with EFBIG instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit bounds{16 * 1024, 16 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &bounds) != 0) std::_Exit(2);
        int mismatches = 0;
        for (const QString &path : {old, dir.filePath(QStringLiteral("new.bmp")), dir.filePath(QStringLiteral("new.tif"))}) {
            const std::string got = SaveMessage(path, *noise), expected = Expected(path, QStringLiteral("file too large"));
            if (got != expected) {
                std::fprintf(stderr, "got \"%s\", expected \"%s\"\n", got.c_str(), expected.c_str());
                ++mismatches;
            }
        }
        std::_Exit(mismatches ? 1 : 0);
    };
    EXPECT_EXIT(saveUnderTheLimit(), testing::ExitedWithCode(0), "");
    EXPECT_EQ(FileBytes(old), oldBytes);
    EXPECT_EQ(Listing(dir.path()), before);
}

TEST(HostileSaves, AFolderThatIsAFileIsNamedAsSuch)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plain.png"));
    WritePictureFile(file, *MakeBitmap(4, 4, pf8bit));
    const QByteArray bytes = FileBytes(file);
    const QString inside = file + QStringLiteral("/new.png");
    EXPECT_EQ(SaveMessage(inside, *MakeBitmap(4, 4, pf24bit)), Expected(inside, QuotedPath(file) + QStringLiteral(" is a file, not a folder")));
    EXPECT_EQ(FileBytes(file), bytes);
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("plain.png")}));
}

// Picture files: the format each name writes, and opens and saves that fail
// with a message naming the file while losing nothing.
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/picture.h"
#include "platform/files/picture_files.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/failures.h"
#include "support/pictures.h"
#include "support/tmpfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QProcess>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each failing save: the message names the file and starts the reason, an existing
// file keeps every byte and the folder gains nothing.
void ExpectFailedSave(const QString &path, const TBitmap &bitmap, const QString &reason)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QStringList before = QDir(folder).exists() ? Listing(folder) : QStringList();
    const QByteArray old = FileBytes(path);
    EXPECT_THAT(MessageOf([&] { WritePictureFile(path, bitmap); }), testing::StartsWith(CannotSave(path, reason)));
    EXPECT_EQ(FileBytes(path), old);
    if (QDir(folder).exists()) {
        EXPECT_EQ(Listing(folder), before);
    }
}

// Ends a death test's child: the exception message on stderr, and the exit
// code 0 when it came with the expected text.
[[noreturn]] void ExitWith(const std::string &message, const std::string &expectedEnd, bool unchanged)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    const bool ends = message.size() >= expectedEnd.size() && message.compare(message.size() - expectedEnd.size(), expectedEnd.size(), expectedEnd) == 0;
    std::_Exit(ends && unchanged ? 0 : 1);
}

} // namespace

TEST(PictureFiles, TheExtensionChoosesTheFormatAndANameWithoutOneWritesBmp)
{
    const struct {
        const char *name;
        std::optional<TPictureFileFormat> format;
    } cases[] = {
        {"a.png", TPictureFileFormat::Png},   {"a.PNG", TPictureFileFormat::Png},   {"a.jpg", TPictureFileFormat::Jpeg},
        {"a.jpeg", TPictureFileFormat::Jpeg}, {"a.JPE", TPictureFileFormat::Jpeg},  {"a.pbm", TPictureFileFormat::Pbm},
        {"a.pgm", TPictureFileFormat::Pgm},   {"a.ppm", TPictureFileFormat::Ppm},   {"a.tif", TPictureFileFormat::Tiff},
        {"a.tiff", TPictureFileFormat::Tiff}, {"a.webp", TPictureFileFormat::Webp}, {"a.bmp", TPictureFileFormat::Bmp},
        {"a", TPictureFileFormat::Bmp},       {"a.gif", TPictureFileFormat::Gif},   {"dir.png/a", TPictureFileFormat::Bmp},
        {"a.tar.png", TPictureFileFormat::Png}, {"a.DIB", TPictureFileFormat::Bmp}, {"a.ico", TPictureFileFormat::Ico},
        {"a.xyz", std::nullopt},              {"a.png.old", std::nullopt},
    };
    for (const auto &c : cases) EXPECT_EQ(PictureFileFormatFor(QString::fromLatin1(c.name)), c.format) << c.name;
}

// The desktop entry and the metainfo offer the program for these media
// types: each must be the one the desktop's own database gives the format's
// file names, or a file manager would not offer it for them.
TEST(PictureFiles, EachFormatsMediaTypeIsTheOneTheDesktopGivesItsFileNames)
{
    const QMimeDatabase desktop;
    QStringList mediaTypes;
    for (const TPictureFileFormatInfo &format : PictureFileFormats()) {
        mediaTypes << QLatin1String(format.mimeType);
        for (const char *extension : format.extensions) {
            if (!extension) continue;
            const QString name = QStringLiteral("a.") + QLatin1String(extension);
            EXPECT_EQ(desktop.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name().toStdString(), format.mimeType)
                << extension;
        }
    }
    EXPECT_EQ(mediaTypes.removeDuplicates(), 0);
}

TEST(PictureFiles, EveryWritableFormatSavesAndReopens)
{
    QTemporaryDir dir;
    const auto picture = Pattern(45, 21);
    const struct {
        const char *name;
        QByteArray signature;
        bool exact;
    } cases[] = {
        {"p.png", "\x89PNG", true}, {"p.JPG", "\xFF\xD8\xFF", false}, {"p.jpeg", "\xFF\xD8\xFF", false},
        {"p.ppm", "P6", true},      {"p.pgm", "P5", false},           {"p.pbm", "P4", false},
        {"p.tif", "II*", true},     {"p.tiff", "II*", true},          {"p.webp", "RIFF", true},
        {"p.ico", QByteArray("\0\0\1\0", 4), true}, {"p.bmp", "BM", true},   {"p.dib", "BM", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        WritePictureFile(path, *picture);
        EXPECT_TRUE(FileBytes(path).startsWith(c.signature));
        TPicture reopened;
        reopened.LoadFromFile(path);
        EXPECT_EQ(reopened.GetWidth(), 45);
        EXPECT_EQ(reopened.GetHeight(), 21);
        if (c.exact) {
            EXPECT_TRUE(SameColours(*picture, *reopened.GetBitmap()));
        }
    }
    EXPECT_EQ(static_cast<std::size_t>(Listing(dir.path()).size()), std::size(cases));
}

TEST(PictureFiles, NamesWithoutAnExtensionWriteBmp)
{
    QTemporaryDir dir;
    const auto picture = Pattern(13, 7, pf8bit);
    for (const char *name : {"plain", "trailing.", "p.bmp"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromLatin1(name));
        WritePictureFile(path, *picture);
        EXPECT_TRUE(FileBytes(path).startsWith("BM"));
        TBitmap back;
        ReadPictureFile(path, back);
        EXPECT_TRUE(SameBitmap(*picture, back));
    }
}

// Every extension the Save dialog offers gives a file of the format it
// names, as Qt's readers tell it from the bytes alone.
TEST(PictureFiles, EveryNameTheSaveDialogOffersGetsTheFormatItNames)
{
    QTemporaryDir dir;
    TPicture picture;
    picture.GetBitmap()->Assign(Pattern(20, 10).get());
    const QString all = SavePictureFilters().constFirst();
    const QStringList patterns = all.mid(all.indexOf(QLatin1Char('(')) + 1).chopped(1).split(QLatin1Char(' '));
    ASSERT_EQ(patterns.size(), 11);
    const QByteArray named[] = {"bmp", "png", "jpeg", "jpeg", "pbm", "pgm", "ppm", "tiff", "tiff", "webp", "ico"};
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        SCOPED_TRACE(patterns[i].toStdString());
        const QString path = dir.filePath(QStringLiteral("p") + patterns[i].mid(1));
        picture.SaveToFile(path);
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        EXPECT_EQ(reader.format(), named[i]);
    }
}

// A name whose extension names a format this program does not write, or no
// format at all, is refused with the formats it writes; nothing is written.
TEST(PictureFiles, AnExtensionThatCannotBeWrittenIsRefusedAndNothingIsWritten)
{
    QTemporaryDir dir;
    TPicture picture;
    picture.GetBitmap()->Assign(Pattern(20, 10).get());
    const QString writes = QStringLiteral("it writes BMP, PNG, JPEG, PBM, PGM, PPM, TIFF, WebP and ICO pictures");
    const struct {
        const char *name;
        QString reason;
    } cases[] = {
        {"x.gif", QStringLiteral("this program cannot write GIF pictures; ") + writes},
        {"x.GIF", QStringLiteral("this program cannot write GIF pictures; ") + writes},
        {"x.xyz", QStringLiteral("this program cannot write \".xyz\" files; ") + writes},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        EXPECT_EQ(MessageOf([&] { picture.SaveToFile(path); }), CannotSave(path, c.reason));
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    EXPECT_TRUE(Listing(dir.path()).isEmpty());

    // An existing file of that name keeps every byte.
    const QString old = dir.filePath(QStringLiteral("old.gif"));
    PutFile(old, "GIF89a, say");
    ExpectFailedSave(old, *picture.GetBitmap(), QStringLiteral("this program cannot write GIF pictures"));
}

TEST(PictureFiles, FailedOpensNameTheFileAndLeaveThePictureAsItWas)
{
    QTemporaryDir dir;
    const auto shown = Pattern(30, 20);
    const QByteArray png = EncodePicture(*Pattern(200, 100), TPictureFileFormat::Png);
    const QByteArray jpeg = EncodePicture(*Pattern(200, 100), TPictureFileFormat::Jpeg);
    PutFile(dir.filePath(QStringLiteral("empty.png")), {});
    PutFile(dir.filePath(QStringLiteral("words.png")), "not a picture at all\n");
    // Damaged: a bit flipped in PNG's data (its chunk's checksum no longer
    // holds), JPEG's first marker after the start broken.
    QByteArray damagedPng = png, damagedJpeg = jpeg;
    damagedPng[png.indexOf("IDAT") + 10] = char(damagedPng[png.indexOf("IDAT") + 10] ^ 0x10);
    PutFile(dir.filePath(QStringLiteral("damaged.png")), damagedPng);
    PutFile(dir.filePath(QStringLiteral("damaged.jpg")), damagedJpeg.left(3) + QByteArray("\x00", 1) + damagedJpeg.mid(4));
    PutFile(dir.filePath(QStringLiteral("huge.pgm")), QByteArray("P5 100000 100000 255\n") + QByteArray(100, '\0'));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));

    const struct {
        const char *name;
        QString reason;
    } cases[] = {
        {"folder.png", QStringLiteral("it is a folder, not a file")},
        {"missing.png", QStringLiteral("the file does not exist")},
        {"empty.png", QStringLiteral("the file is empty")},
        {"words.png", QStringLiteral("the file is not a picture in a format this program reads")},
        {"damaged.png", QStringLiteral("the picture data is damaged or incomplete")},
        {"damaged.jpg", QStringLiteral("the picture data is damaged or incomplete")},
        {"huge.pgm", QStringLiteral("the picture is 100000 x 100000 pixels, which would take 9537 MiB; "
                                    "this program handles pictures of less than 2048 MiB")},
    };
    TPicture picture;
    picture.GetBitmap()->Assign(shown.get());
    int changes = 0;
    picture.SetOnChange([&] { ++changes; });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        EXPECT_EQ(MessageOf([&] { picture.LoadFromFile(path); }), CannotOpen(path, c.reason));
        EXPECT_TRUE(SameBitmap(*shown, *picture.GetBitmap()));
    }
    EXPECT_EQ(changes, 0);
}

// A file that ends early, whatever its format, replaces the picture with
// the rows it holds and says how many are missing: a PGM cut after 37 of
// its 100 rows and a half, a PNG cut in its data, a JPEG and a WebP cut
// half-way.
TEST(PictureFiles, FilesThatEndEarlyShowTheirRowsAndSayHowManyAreMissing)
{
    QTemporaryDir dir;
    const auto whole = Pattern(200, 100, pf8bit);
    const QByteArray pgm = EncodePicture(*whole, TPictureFileFormat::Pgm);
    const QByteArray header = pgm.left(pgm.size() - 200 * 100);
    const struct {
        const char *name;
        QByteArray file;
        int missing;   // -1 where the decoder decides
    } cases[] = {
        {"cut.pgm", pgm.left(header.size() + 200 * 37 + 100), 63},
        {"cut.png", EncodePicture(*whole, TPictureFileFormat::Png).chopped(1000), -1},
        {"cut.jpg", EncodePicture(*whole, TPictureFileFormat::Jpeg).chopped(1500), -1},
        {"cut.webp", EncodePicture(*whole, TPictureFileFormat::Webp).chopped(2000), -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        PutFile(path, c.file);
        TBitmap expected;
        const TRowsMissing missing = DecodePicture(Bytes(c.file), expected);
        ASSERT_GT(missing.missing, 0);
        if (c.missing >= 0) {
            EXPECT_EQ(missing.missing, c.missing);
        }
        TPicture picture;
        picture.GetBitmap()->Assign(Pattern(3, 2).get());
        EXPECT_EQ(MessageOf([&] { picture.LoadFromFile(path); }),
                  QStringLiteral("The file %1 ends early: %2 of its 100 rows are missing. The rows it holds are shown.")
                      .arg(QuotedPath(path))
                      .arg(missing.missing)
                      .toStdString());
        EXPECT_TRUE(SameBitmap(*picture.GetBitmap(), expected));
    }
    // The PGM's rows held are the file's, its half row's pixels too.
    TBitmap read, cut;
    DecodePicture(Bytes(pgm), read);
    EXPECT_TRUE(HoldsTheFirstRowsOf(cut, read, DecodePicture(Bytes(cases[0].file), cut)));
    EXPECT_EQ(cut.GetScanline(37)[99], read.GetScanline(37)[99]);
    EXPECT_EQ(cut.GetScanline(37)[100], 0);
}

// Inside a folder that exists, a path longer than the system takes is a
// name too long, for opening and saving alike.
TEST(PictureFiles, APathLongerThanTheSystemTakesIsANameTooLong)
{
    QTemporaryDir dir;
    QString path = dir.path();
    while (QFile::encodeName(path).size() < 5000) path += QStringLiteral("/.");
    path += QStringLiteral("/picture.bmp");
    const QString reason = QStringLiteral("the name is too long: its path takes %1 bytes, and the system takes at most 4095")
                               .arg(QFile::encodeName(path).size());
    TBitmap bitmap;
    EXPECT_EQ(MessageOf([&] { ReadPictureFile(path, bitmap); }), CannotOpen(path, reason));
    ExpectFailedSave(path, *Pattern(4, 4), reason);
}

// As root, which reads files whatever their permissions, as the user nobody.
TEST(PictureFiles, AFileWithoutReadPermissionIsRefused)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("locked.png"));
    WritePictureFile(path, *Pattern(4, 4));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const auto asAUser = [&] {
        if (!BecomeUnprivilegedUser()) std::_Exit(2);
        TBitmap bitmap;
        const std::string got = MessageOf([&] { ReadPictureFile(path, bitmap); });
        std::fprintf(stderr, "%s\n", got.c_str());
        std::_Exit(got == CannotOpen(path, QStringLiteral("permission denied")) ? 0 : 1);
    };
    EXPECT_EXIT(asAUser(), testing::ExitedWithCode(0), "");
}

// A folder the user may not enter makes every file in it look missing to
// Qt; the system says why, and the message names that folder, for opening
// and saving alike. As root, which enters any folder, the checks run as
// the user nobody.
TEST(PictureFilesDeathTest, AFolderTheUserMayNotEnterIsNamedAsDenied)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("locked/inner")));
    const QString inside = locked + QStringLiteral("/a.bmp");
    WritePictureFile(inside, *Pattern(6, 6));
    const QByteArray old = FileBytes(inside);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    // Its names may be read, but nobody may enter it.
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0666), 0);
    const QString reason = QStringLiteral("permission denied: the folder %1 may not be entered").arg(QuotedPath(locked));
    const auto asAUser = [&] {
        if (!BecomeUnprivilegedUser()) std::_Exit(2);
        int mismatches = 0;
        const auto expect = [&](const std::string &got, const std::string &expected) {
            if (got == expected) return;
            std::fprintf(stderr, "got \"%s\", expected \"%s\"\n", got.c_str(), expected.c_str());
            ++mismatches;
        };
        TBitmap bitmap;
        for (const QString &path : {inside, locked + QStringLiteral("/missing.bmp"), locked + QStringLiteral("/inner/b.png")}) {
            expect(MessageOf([&] { ReadPictureFile(path, bitmap); }), CannotOpen(path, reason));
            expect(MessageOf([&] { WritePictureFile(path, *Pattern(4, 4)); }), CannotSave(path, reason));
        }
        std::_Exit(mismatches);
    };
    EXPECT_EXIT(asAUser(), testing::ExitedWithCode(0), "");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0755), 0);
    EXPECT_EQ(FileBytes(inside), old);
    EXPECT_EQ(Listing(locked), QStringList({QStringLiteral("a.bmp"), QStringLiteral("inner")}));
}

TEST(PictureFiles, FailedSavesNameTheFileKeepTheOldOneAndLeaveNothingBehind)
{
    QTemporaryDir dir;
    const auto picture = Pattern(64, 48);
    const QString old = dir.filePath(QStringLiteral("old.png"));
    WritePictureFile(old, *Pattern(8, 8));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));

    const QString missing = dir.filePath(QStringLiteral("missing/new.png"));
    ExpectFailedSave(missing, *picture, QStringLiteral("the folder %1 does not exist").arg(QuotedPath(dir.filePath(QStringLiteral("missing")))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
    ExpectFailedSave(dir.filePath(QStringLiteral("folder.png")), *picture, QStringLiteral("it is a folder, not a file"));
    ExpectFailedSave(dir.filePath(QString(300, QLatin1Char('n')) + QStringLiteral(".png")), *picture, QStringLiteral("file name too long"));
    // A name the system takes, but too long for the temporary name beside it.
    const QString longName = dir.filePath(QString(250, QLatin1Char('l')) + QStringLiteral(".png"));
    WritePictureFile(longName, *picture);
    ExpectFailedSave(longName, *Pattern(5, 5), QStringLiteral("the file name is too long to replace the file safely; save under a shorter name"));
    ASSERT_TRUE(QFile::remove(longName));
    TBitmap empty;
    ExpectFailedSave(old, empty, QStringLiteral("there is no picture to save"));
    const auto tooWide = MakeBitmap(20000, 1, pf24bit);
    ExpectFailedSave(dir.filePath(QStringLiteral("wide.webp")), *tooWide,
                     QStringLiteral("the picture is 20000 x 1 pixels; WebP pictures can be at most 16383 pixels wide and high"));
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("folder.png"), QStringLiteral("old.png")}));
}

TEST(PictureFiles, SavingOntoAFullDeviceFailsAndLeavesTheDeviceADevice)
{
    const QString full = QStringLiteral("/dev/full");
    if (!QFileInfo::exists(full) || QFileInfo(full).isFile()) GTEST_SKIP() << "no /dev/full device here";
    EXPECT_EQ(MessageOf([&] { WritePictureFile(full, *Pattern(64, 64)); }), CannotSave(full, QStringLiteral("no space left on device")));
    EXPECT_FALSE(QFileInfo(full).isFile());
}

TEST(PictureFiles, SavingOntoAFullFilesystemKeepsTheOldFile)
{
    QTemporaryDir dir;
    TmpfsMount mount(dir.path());
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and permission to mount)";
    const QString old = dir.filePath(QStringLiteral("old.png"));
    WritePictureFile(old, *Pattern(8, 8));
    // Random pixels do not compress: far more than the 64 KiB the filesystem holds.
    auto noise = MakeBitmap(200, 200, pf24bit);
    FillRandomBytes(*noise, 5);
    ExpectFailedSave(old, *noise, QStringLiteral("no space left on device"));
    ExpectFailedSave(dir.filePath(QStringLiteral("new.ppm")), *noise, QStringLiteral("no space left on device"));
    // Written as it is encoded, a BMP is told of as full with its size: 54
    // bytes of headers and 200 rows of 600.
    ExpectFailedSave(dir.filePath(QStringLiteral("new.bmp")), *noise, QStringLiteral("no space left on device (the file takes 118 KiB, "));
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("old.png")}));
}

TEST(PictureFiles, SavingOntoAReadOnlyFilesystemKeepsTheOldFile)
{
    QTemporaryDir dir;
    TmpfsMount mount(dir.path());
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and permission to mount)";
    const QString old = dir.filePath(QStringLiteral("old.png"));
    WritePictureFile(old, *Pattern(8, 8));
    ASSERT_TRUE(mount.MakeReadOnly());
    ExpectFailedSave(old, *Pattern(9, 9), QStringLiteral("read-only file system"));
    ExpectFailedSave(dir.filePath(QStringLiteral("new.png")), *Pattern(9, 9), QStringLiteral("read-only file system"));
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("old.png")}));
}

TEST(PictureFiles, ALargePictureSavesAndReopens)
{
    // PNG would take long at this size; BMP is the program's own, PPM the fallback.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.bmp"));
    TBitmap large;
    large.Allocate(10000, 10000, pf24bit);
    for (int y = 0; y < large.GetHeight(); ++y) {
        std::uint8_t *row = large.Row(y);
        for (int i = 0; i < 30000; ++i) row[i] = static_cast<std::uint8_t>(i * 7 + y);
    }
    WritePictureFile(path, large);
    TBitmap back;
    ReadPictureFile(path, back);
    EXPECT_TRUE(SameBitmap(large, back));
}

TEST(PictureFilesDeathTest, RunningOutOfMemoryIsReportedAndLosesNothing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.png"));
    // 6000 x 6000: 103 MiB of pixels, a small file of one colour. More than
    // the C library's spare heaps (64 MiB each) can give, which a smaller
    // picture could still get once the address space is full.
    const auto big = MakeBitmap(6000, 6000, pf24bit);
    WritePictureFile(path, *big);
    const auto shown = Pattern(20, 10);

    EXPECT_EXIT(
        {
            TPicture picture;
            picture.GetBitmap()->Assign(shown.get());
            if (!LimitAddressSpace(std::size_t(16) << 20)) std::_Exit(2);
            const std::string message = MessageOf([&] { picture.LoadFromFile(path); });
            ExitWith(message, ": there is not enough memory to read the picture", SameBitmap(*shown, *picture.GetBitmap()));
        },
        testing::ExitedWithCode(0), "not enough memory to read");
    EXPECT_EXIT(
        {
            if (!LimitAddressSpace(std::size_t(16) << 20)) std::_Exit(2);
            const std::string message = MessageOf([&] { WritePictureFile(dir.filePath(QStringLiteral("copy.ppm")), *big); });
            ExitWith(message, ": there is not enough memory to encode the picture", !QFileInfo::exists(dir.filePath(QStringLiteral("copy.ppm"))));
        },
        testing::ExitedWithCode(0), "not enough memory to encode");
}

TEST(PictureFiles, PublicPhotosOpenAndKeepEveryPixelThroughTheLosslessFormats)
{
    SKIP_WITHOUT_CORPORA(corpora);
    QTemporaryDir dir;
    for (const char *name : {"astronaut.png", "coffee.png"}) {
        SCOPED_TRACE(name);
        TBitmap photo;
        ReadPictureFile(corpora + QStringLiteral("/photos/") + QLatin1String(name), photo);
        EXPECT_EQ(photo.GetPixelFormat(), pf24bit);
        EXPECT_GE(photo.GetWidth(), 400);
        for (const char *copy : {"copy.png", "copy.tif", "copy.webp", "copy.ppm"}) {
            SCOPED_TRACE(copy);
            const QString path = dir.filePath(QLatin1String(copy));
            WritePictureFile(path, photo);
            TBitmap back;
            ReadPictureFile(path, back);
            EXPECT_TRUE(SameBitmap(photo, back));
        }
    }
}

// Saves that fail in ways the picture file tests leave out: a file size
// limit reached in the middle of writing, and a folder that is a file. Each
// names the file and the reason, keeps an existing file byte for byte and
// leaves nothing behind.
#include "platform/files/disk/file_writing.h"
#include "platform/files/disk/kept_copy.h"
#include "platform/files/picture_files.h"
#include "platform/files/disk/unfinished_saves.h"
#include "support/pictures.h"
#include "support/tmpfs.h"
#include "support/disk_files.h"
#include "support/failures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

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
            const std::string got = MessageOf([&] { WritePictureFile(path, *noise); });
            const std::string expected = CannotSave(path, QStringLiteral("file too large"));
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
    EXPECT_EQ(MessageOf([&] { WritePictureFile(inside, *MakeBitmap(4, 4, pf24bit)); }),
              CannotSave(inside, QLatin1Char('"') + file + QStringLiteral("\" is a file, not a folder")));
    EXPECT_EQ(FileBytes(file), bytes);
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("plain.png")}));
}

namespace {

struct stat StatOf(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

} // namespace

// Saving over a file keeps the file: every other name of it sees the new
// picture, and its inode, owner, group and mode bits stay.
TEST(HostileSaves, SavingOverAFileKeepsItsLinksOwnerGroupAndModeBits)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.bmp"));
    const QString other = dir.filePath(QStringLiteral("other-name.bmp"));
    WritePictureFile(path, *Noise(20, 1));
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()), 0);
    const auto picture = Noise(30, 2);
    WritePictureFile(path, *picture);
    TBitmap seen;
    ReadPictureFile(other, seen);
    EXPECT_TRUE(SameBitmap(*picture, seen));
    EXPECT_EQ(StatOf(path).st_ino, StatOf(other).st_ino);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
    // Smaller than before: nothing of the old file is left at its end.
    WritePictureFile(other, *Noise(3, 3));
    EXPECT_EQ(FileBytes(path), EncodePicture(*Noise(3, 3), TPictureFileFormat::Bmp));

    const QString special = dir.filePath(QStringLiteral("special.png"));
    WritePictureFile(special, *Noise(8, 4));
    const QByteArray name = QFile::encodeName(special);
    ASSERT_EQ(::chmod(name.constData(), 03664), 0);
    const bool owned = ::geteuid() == 0 && ::chown(name.constData(), 65534, 65534) == 0;
    const struct stat before = StatOf(special);
    WritePictureFile(special, *Noise(40, 5));
    const struct stat after = StatOf(special);
    EXPECT_EQ(after.st_mode & 07777, 03664u);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    if (owned) {
        EXPECT_EQ(after.st_uid, 65534u);
    }
    TBitmap back;
    ReadPictureFile(special, back);
    EXPECT_TRUE(SameBitmap(*Noise(40, 5), back));
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("other-name.bmp"), QStringLiteral("shared.bmp"), QStringLiteral("special.png")}));
}

// Each thing a file renamed over this one would lose, alone, keeps the file
// (written in place); a file with none of them is replaced by a new one.
TEST(HostileSaves, EachIdentityANewFileWouldNotKeepAloneMakesTheSaveWriteInPlace)
{
    QTemporaryDir dir;
    const struct {
        const char *what;
        uid_t owner = uid_t(-1);
        gid_t group = gid_t(-1);
        mode_t mode = 0644;
        bool linked = false;
    } cases[] = {
        {"nothing: a new file replaces it"},
        {"another group", uid_t(-1), 65534},
        {"another owner", 65534},
        {"set-user-ID", uid_t(-1), gid_t(-1), 04644},
        {"set-group-ID", uid_t(-1), gid_t(-1), 02644},
        {"sticky", uid_t(-1), gid_t(-1), 01644},
        {"a second name", uid_t(-1), gid_t(-1), 0644, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QString::fromLatin1(c.what) + QStringLiteral(".bmp"));
        WritePictureFile(path, *Noise(6, 20));
        const QByteArray name = QFile::encodeName(path);
        ASSERT_EQ(::chmod(name.constData(), c.mode), 0);
        if ((c.owner != uid_t(-1) || c.group != gid_t(-1)) && ::chown(name.constData(), c.owner, c.group) != 0) {
            std::cerr << "cannot give a file away here (needs root): " << c.what << " is not tried\n";
            continue;
        }
        if (c.linked) {
            ASSERT_EQ(::link(name.constData(), (name + ".link").constData()), 0);
        }
        const bool inPlace = c.mode != 0644 || c.linked || c.owner != uid_t(-1) || c.group != gid_t(-1);
        EXPECT_EQ(MustWriteInPlace(path), inPlace);
        const struct stat before = StatOf(path);
        WritePictureFile(path, *Noise(7, 21));
        const struct stat after = StatOf(path);
        EXPECT_EQ(after.st_ino == before.st_ino, inPlace);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        TBitmap back;
        ReadPictureFile(path, back);
        EXPECT_TRUE(SameBitmap(*Noise(7, 21), back));
    }
}

// A file the user may write, in a folder the user may not: saved in place.
TEST(HostileSavesDeathTest, AWritableFileInAFolderTheUserCannotWriteIsSaved)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make a folder another user cannot write and become that user";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    const QString path = folder + QStringLiteral("/open.bmp");
    WritePictureFile(path, *Noise(10, 6));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    // The old bytes are kept in the user's cache folder meanwhile.
    const QString cache = dir.filePath(QStringLiteral("cache"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("cache")));
    ASSERT_EQ(::chmod(QFile::encodeName(cache).constData(), 0777), 0);
    const auto picture = Noise(25, 7);
    const auto saveAsNobody = [&] {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        if (!BecomeUnprivilegedUser()) std::_Exit(2);
        const std::string got = MessageOf([&] { WritePictureFile(path, *picture); });
        if (got != NoException) {
            std::fprintf(stderr, "%s\n", got.c_str());
            std::_Exit(1);
        }
        TBitmap back;
        ReadPictureFile(path, back);
        if (!SameBitmap(*picture, back) || Listing(folder) != QStringList({QStringLiteral("open.bmp")})) std::_Exit(3);
        if (!Listing(UnfinishedSavesFolder()).isEmpty()) std::_Exit(4);
        std::_Exit(0);
    };
    EXPECT_EXIT(saveAsNobody(), testing::ExitedWithCode(0), "");
}

// Written in place, a file keeps its old bytes when the disk cannot hold
// the new ones: the space is reserved before the first byte is replaced.
TEST(HostileSaves, AFullDiskLeavesAFileWrittenInPlaceAsItWas)
{
    QTemporaryDir dir;
    TmpfsMount mount(dir.path());
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and permission to mount)";
    const QString path = dir.filePath(QStringLiteral("linked.bmp"));
    const QString other = dir.filePath(QStringLiteral("link.bmp"));
    WritePictureFile(path, *Noise(40, 8));
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()), 0);
    const QByteArray old = FileBytes(path);
    EXPECT_EQ(MessageOf([&] { WritePictureFile(path, *Noise(200, 9)); }), CannotSave(path, QStringLiteral("no space left on device")));
    EXPECT_EQ(FileBytes(path), old);
    EXPECT_EQ(FileBytes(other), old);
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("link.bmp"), QStringLiteral("linked.bmp")}));
}

// The old bytes of a file written in place are copied aside first: where
// neither the disk beside it nor the cache folder can hold them, the save
// fails with that reason before the file is touched, and leaves nothing.
TEST(HostileSaves, AFullDiskWhileTheOldBytesAreCopiedAsideLeavesTheFileAsItWas)
{
    QTemporaryDir dir;
    TmpfsMount mount(dir.path());
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and permission to mount)";
    const TCacheFolderAt cache(dir.filePath(QStringLiteral("cache")));
    const QString path = dir.filePath(QStringLiteral("linked.bmp"));
    const QString other = dir.filePath(QStringLiteral("link.bmp"));
    // 40 KiB of the 64 the file system holds: no room for a second copy.
    WritePictureFile(path, *Noise(115, 13));
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()), 0);
    const QByteArray old = FileBytes(path);
    EXPECT_EQ(MessageOf([&] { WritePictureFile(path, *Noise(20, 14)); }),
              CannotSave(path, QStringLiteral("a copy of the old file could not be kept while it is written over: in %1, no space left "
                                            "on device; in %2, no space left on device")
                                 .arg(QuotedPath(dir.path()), QuotedPath(UnfinishedSavesFolder()))));
    EXPECT_EQ(FileBytes(path), old);
    EXPECT_EQ(FileBytes(other), old);
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("cache"), QStringLiteral("link.bmp"), QStringLiteral("linked.bmp")}));
    EXPECT_EQ(Listing(UnfinishedSavesFolder()), QStringList());
}

// Where the disk beside the file cannot hold a copy of its old bytes, the
// user's cache folder, on another file system, keeps it while the file is
// written over.
TEST(HostileSaves, ADiskTooFullForACopyBesideTheFileKeepsItInTheCacheFolder)
{
    QTemporaryDir dir, elsewhere;
    TmpfsMount mount(dir.path());
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and permission to mount)";
    const TCacheFolderAt cache(elsewhere.path());
    const QString path = dir.filePath(QStringLiteral("linked.bmp"));
    const QString other = dir.filePath(QStringLiteral("link.bmp"));
    WritePictureFile(path, *Noise(115, 15));
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()), 0);
    EXPECT_EQ(MessageOf([&] { WritePictureFile(path, *Noise(20, 16)); }), NoException);
    EXPECT_EQ(FileBytes(other), EncodePicture(*Noise(20, 16), TPictureFileFormat::Bmp));
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("link.bmp"), QStringLiteral("linked.bmp")}));
    EXPECT_EQ(Listing(UnfinishedSavesFolder()), QStringList());
}

// Another program cuts the file short while its old bytes are copied
// aside: no copy is kept of what is no longer there, the save fails before
// the file is written over, and nothing is left.
TEST(HostileSaves, AFileCutShortWhileItsOldBytesAreCopiedAsideIsRefused)
{
    QTemporaryDir dir;
    const TCacheFolderAt cache(dir.filePath(QStringLiteral("cache")));
    const QString path = dir.filePath(QStringLiteral("cut.bmp"));
    PutFile(path, QByteArray(1000, 'x'));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // It held 2000 bytes when the save looked.
    const std::string message = MessageOf([&] { const TKeptCopy copy(path, fd, 2000); });
    ::close(fd);
    const QString cut = QStringLiteral("the file was cut short while it was being copied");
    EXPECT_EQ(message, QStringLiteral("a copy of the old file could not be kept while it is written over: in %1, %2; in %3, %2")
                           .arg(QuotedPath(dir.path()), cut, QuotedPath(UnfinishedSavesFolder()))
                           .toStdString());
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("cache"), QStringLiteral("cut.bmp")}));
    EXPECT_EQ(Listing(UnfinishedSavesFolder()), QStringList());
}

namespace {

QByteArray Attribute(const QString &path, const char *name)
{
    char value[256];
    const ssize_t size = ::getxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
    return size < 0 ? QByteArray() : QByteArray(value, size);
}

// A POSIX access list as the system stores it: the owner, the group and
// others as the mode bits 0664 say, and user 65534 allowed to read and write.
QByteArray AccessListWithAnotherUser()
{
    QByteArray list;
    const auto add = [&](quint16 tag, quint16 permissions, quint32 id) {
        list.append(reinterpret_cast<const char *>(&tag), 2).append(reinterpret_cast<const char *>(&permissions), 2);
        list.append(reinterpret_cast<const char *>(&id), 4);
    };
    const quint32 version = 2, anyone = 0xFFFFFFFF;
    list.append(reinterpret_cast<const char *>(&version), 4);
    add(0x01, 6, anyone); // the owner
    add(0x02, 6, 65534);  // a named user
    add(0x04, 4, anyone); // the group
    add(0x10, 6, anyone); // the mask
    add(0x20, 4, anyone); // others
    return list;
}

} // namespace

// A new file renamed over the old one would lose its extended attributes:
// tags, the address a browser downloaded it from, its access list. They
// are carried over.
TEST(HostileSaves, SavingOverAFileKeepsItsTagsAndAccessList)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("downloaded.png"));
    WritePictureFile(path, *Noise(10, 11));
    const QByteArray name = QFile::encodeName(path);
    const QByteArray origin("https://example.org/pictures/downloaded.png"), tags("holiday,sea");
    if (::setxattr(name.constData(), "user.xdg.origin.url", origin.constData(), origin.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_EQ(::setxattr(name.constData(), "user.xdg.tags", tags.constData(), tags.size(), 0), 0);
    const QByteArray list = AccessListWithAnotherUser();
    const bool listed = ::setxattr(name.constData(), "system.posix_acl_access", list.constData(), list.size(), 0) == 0;
    if (!listed) std::cerr << "this file system keeps no access lists: only user attributes are checked\n";

    // An ordinary file: a new one is written and renamed over it.
    ASSERT_FALSE(MustWriteInPlace(path));
    const ino_t before = StatOf(path).st_ino;
    WritePictureFile(path, *Noise(30, 12));
    EXPECT_NE(StatOf(path).st_ino, before);
    TBitmap back;
    ReadPictureFile(path, back);
    EXPECT_TRUE(SameBitmap(*Noise(30, 12), back));
    EXPECT_EQ(Attribute(path, "user.xdg.origin.url"), origin);
    EXPECT_EQ(Attribute(path, "user.xdg.tags"), tags);
    if (listed) {
        EXPECT_EQ(Attribute(path, "system.posix_acl_access"), list);
    }
    EXPECT_EQ(Listing(dir.path()), QStringList({QStringLiteral("downloaded.png")}));

    // The copy itself, onto a file of none.
    const QString copy = dir.filePath(QStringLiteral("copy.png"));
    PutFile(copy, QByteArray("x"));
    const int to = ::open(QFile::encodeName(copy).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(to, 0);
    EXPECT_TRUE(CopyExtendedAttributes(path, to));
    ::close(to);
    EXPECT_EQ(Attribute(copy, "user.xdg.origin.url"), origin);
    EXPECT_EQ(Attribute(copy, "user.xdg.tags"), tags);
    if (listed) {
        EXPECT_EQ(Attribute(copy, "system.posix_acl_access"), list);
    }
}

// Saves over a hard-linked file (written in place) that are killed, fail
// or are cancelled at every step of their writing (tests/files/probe), and
// killed from outside while a big picture is saved: the old picture or the
// new one is always whole and can be had back, the next start tells where
// a kept copy is, and nothing else is left behind.
#include "platform/files/picture_files.h"
#include "platform/files/disk/unfinished_saves.h"
#include "support/disk_files.h"
#include "support/failures.h"
#include "support/pictures.h"
#include "support/printers.h"
#include "support/save_probe_runs.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Where the picture is saved from and to.
enum class TFolder {
    // The user may write the folder: the old bytes are kept beside the file.
    Writable,
    // The user may not (as root, the probe runs as nobody): they are kept
    // in the user's cache folder.
    ReadOnly,
};

// A hard-linked picture file to save over, the new picture's file, and a
// cache folder of their own, which the probe and this process both use.
class TScene {
public:
    TScene(int oldSide, int newSide, TFolder folder = TFolder::Writable) : folderKind_(folder)
    {
        EXPECT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("pictures")));
        EXPECT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("cache")));
        folder_ = dir_.filePath(QStringLiteral("pictures"));
        cache_ = dir_.filePath(QStringLiteral("cache"));
        target_ = folder_ + QStringLiteral("/shared.bmp");
        link_ = folder_ + QStringLiteral("/other-name.bmp");
        picture_ = dir_.filePath(QStringLiteral("new.bmp"));
        WritePictureFile(target_, *Noise(oldSide, 1));
        EXPECT_EQ(::link(QFile::encodeName(target_).constData(), QFile::encodeName(link_).constData()), 0);
        old_ = FileBytes(target_);
        WritePictureFile(picture_, *Noise(newSide, 2));
        if (folder == TFolder::ReadOnly) {
            // Nobody may write the picture and the cache, not the pictures' folder.
            for (const QString &path : {dir_.path(), folder_}) ::chmod(QFile::encodeName(path).constData(), ::geteuid() == 0 ? 0755 : 0555);
            for (const QString &path : {target_, picture_, cache_}) ::chmod(QFile::encodeName(path).constData(), 0777);
        }
        cacheAt_ = std::make_unique<TCacheFolderAt>(cache_);
        const TProbeRun whole = Run({});
        EXPECT_EQ(whole.outcome, QStringLiteral("saved")) << whole.message.toStdString();
        new_ = FileBytes(target_);
        steps_ = whole.steps;
        firstChange_ = whole.firstChange;
        EXPECT_NE(new_, old_);
        EXPECT_GT(firstChange_, 1);
        EXPECT_TRUE(Leftovers().isEmpty());
        Reset();
    }
    ~TScene()
    {
        ::chmod(QFile::encodeName(folder_).constData(), 0755);
    }
    TScene(const TScene &) = delete;
    TScene &operator=(const TScene &) = delete;

    const QString &Target() const { return target_; }
    const QByteArray &Old() const { return old_; }
    const QByteArray &New() const { return new_; }
    int Steps() const { return steps_; }
    // The step after which the file first differs from the old one.
    int FirstChange() const { return firstChange_; }

    void Start(QProcess &probe, QStringList arguments) const
    {
        arguments.prepend(target_);
        arguments.prepend(picture_);
        if (folderKind_ == TFolder::ReadOnly) arguments << QStringLiteral("--as-nobody");
        StartProbe(probe, arguments, cache_);
    }

    TProbeRun Run(const QStringList &arguments) const
    {
        QProcess probe;
        Start(probe, arguments);
        return Finished(probe);
    }

    // The file made anew under its own name alone (the other name keeps
    // the old one): a save then replaces it by renaming a new file over it.
    void SeparateTheNames() const
    {
        ::unlink(QFile::encodeName(target_).constData());
        PutFile(target_, old_);
    }

    // The file holds the old bytes again, under both names.
    void Reset() const
    {
        PutFile(target_, old_);
        if (folderKind_ == TFolder::ReadOnly) ::chmod(QFile::encodeName(target_).constData(), 0777);
    }

    // Every file the saves left: in the pictures' folder beside the file's
    // two names, and in the folder of records and kept copies.
    QStringList Leftovers() const
    {
        QStringList left;
        for (const QString &name : Listing(folder_))
            if (name != QStringLiteral("shared.bmp") && name != QStringLiteral("other-name.bmp")) left << folder_ + QLatin1Char('/') + name;
        for (const QString &name : Listing(UnfinishedSavesFolder())) left << UnfinishedSavesFolder() + QLatin1Char('/') + name;
        return left;
    }

    // After a save was killed: the old picture or the new one is whole,
    // under the file's names or in the copy the next start tells of, and
    // nothing else is left. Gives whether a copy was told of; puts the old
    // file back for the next run.
    bool CheckAfterKill() const
    {
        const QByteArray now = FileBytes(target_);
        EXPECT_EQ(FileBytes(link_), now) << "the two names are one file";
        const QStringList before = Leftovers();
        const std::string notice = MessageOf(CheckUnfinishedSaves);
        const bool told = notice != NoException;
        if (now == old_) {
            EXPECT_FALSE(told) << "the file is whole and old, yet the start says: " << notice;
        } else if (now != new_) {
            EXPECT_TRUE(told) << "the file holds neither picture whole, and the start says nothing";
        }
        QStringList kept;
        for (const QString &path : before)
            if (QFileInfo(path).fileName().startsWith(QStringLiteral(".shared.old-"))) kept << path;
        if (told && kept.size() == 1) {
            EXPECT_EQ(notice, QStringLiteral("The program ended before it finished saving %1, which may hold only part of the new "
                                             "picture. The picture it held before is kept in %2.")
                                  .arg(QuotedPath(target_), QuotedPath(kept[0]))
                                  .toStdString());
            EXPECT_EQ(FileBytes(kept[0]), old_) << "the copy told of is the old picture, whole";
            EXPECT_EQ(QFileInfo(kept[0]).path(), folderKind_ == TFolder::Writable ? folder_ : UnfinishedSavesFolder());
        }
        EXPECT_EQ(Leftovers(), told ? kept.mid(0, 1) : QStringList()) << "only the copy told of stays";
        EXPECT_EQ(MessageOf(CheckUnfinishedSaves), NoException) << "a copy is told of once";
        for (const QString &path : Leftovers()) QFile::remove(path);
        Reset();
        return told;
    }

    // After a save that ended on its own: saved, it holds the new picture;
    // otherwise the old one; either way nothing else is left.
    void CheckAfterEnd(const TProbeRun &run) const
    {
        EXPECT_FALSE(run.killed);
        EXPECT_EQ(FileBytes(target_), run.outcome == QStringLiteral("saved") ? new_ : old_) << run.outcome.toStdString();
        EXPECT_EQ(FileBytes(link_), FileBytes(target_));
        EXPECT_EQ(Leftovers(), QStringList());
        EXPECT_EQ(MessageOf(CheckUnfinishedSaves), NoException);
        Reset();
    }

private:
    QTemporaryDir dir_;
    TFolder folderKind_;
    QString folder_, cache_, target_, link_, picture_;
    std::unique_ptr<TCacheFolderAt> cacheAt_;
    QByteArray old_, new_;
    int steps_ = 0;
    int firstChange_ = 0;
};

} // namespace

// Killed before or in the middle of each step (the copy's record, the copy,
// its sync, the reservation, every write over the file, its sync, the
// removals): the file holds the old picture or the new one, or the next
// start tells of the copy that holds the old one.
TEST(InterruptedSaves, AKillAtAnyStepOfASaveInPlaceLeavesAPictureWholeAndTheNextStartTellsWhere)
{
    const struct {
        const char *name;
        int oldSide, newSide;
        TFolder folder;
    } cases[] = {
        {"a larger picture over the file", 40, 60, TFolder::Writable},
        {"a smaller picture over the file", 60, 40, TFolder::Writable},
        {"in a folder the user may not write", 40, 60, TFolder::ReadOnly},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const TScene scene(c.oldSide, c.newSide, c.folder);
        int told = 0;
        for (const char *mode : {"die-before", "die-during"})
            for (int step = 1; step <= scene.Steps(); ++step) {
                SCOPED_TRACE(std::string(mode) + " step " + std::to_string(step));
                EXPECT_TRUE(scene.Run({QLatin1String(mode), QString::number(step)}).killed);
                told += scene.CheckAfterKill();
            }
        // Some kills came while the file held neither picture whole.
        EXPECT_GT(told, 0);
    }
}

// A step that fails (EIO) fails the save, which puts the old bytes back, or
// is taken over by the next place for the copy; nothing is left behind.
TEST(InterruptedSaves, AFailureAtAnyStepOfASaveInPlaceLeavesTheOldFileOrTheNewOneAndNothingElse)
{
    const TScene scene(40, 60);
    QStringList messages;
    for (int step = 1; step <= scene.Steps(); ++step) {
        SCOPED_TRACE("fail step " + std::to_string(step));
        const TProbeRun run = scene.Run({QStringLiteral("fail"), QString::number(step)});
        if (run.outcome == QStringLiteral("failed")) messages << run.message;
        scene.CheckAfterEnd(run);
    }
    const QString prefix = QStringLiteral("Cannot save %1: ").arg(QuotedPath(scene.Target()));
    // Every write over the file failed, the old bytes were put back.
    EXPECT_TRUE(messages.contains(prefix + QStringLiteral("input/output error"))) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(messages.contains(prefix + QStringLiteral("a copy of the old file could not be kept while it is written over: in %1, "
                                                          "input/output error")
                                               .arg(QuotedPath(UnfinishedSavesFolder()))))
        << messages.join(QLatin1Char('\n')).toStdString();
}

// Writes over the file that keep failing cannot put the old bytes back
// either: the message says so and names the copy that keeps the old
// picture, which stays for the user; nothing else does.
TEST(InterruptedSaves, ASaveInPlaceThatCannotPutTheOldBytesBackNamesTheirCopy)
{
    const TScene scene(40, 60);
    // From the first write over the file on.
    const TProbeRun run = scene.Run({QStringLiteral("fail-from"), QString::number(scene.FirstChange() + 1)});
    const QStringList left = scene.Leftovers();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(run.message, QStringLiteral("Cannot save %1: input/output error; the file is now incomplete, and its old picture is kept in %2")
                               .arg(QuotedPath(scene.Target()), QuotedPath(left[0])));
    EXPECT_EQ(FileBytes(left[0]), scene.Old());
    // Told now, not again at the next start.
    EXPECT_EQ(MessageOf(CheckUnfinishedSaves), NoException);
}

namespace {

// Cancels the save at each step in turn: a cancel is taken at every step
// before `lastCancellable` + 1 and refused from there on; taken, the file
// keeps its old bytes, refused, it gets the new ones; nothing is left.
void ExpectCancelsTakenUntil(const TScene &scene, int lastCancellable, const QStringList &more = {})
{
    for (int step = 1; step <= scene.Steps(); ++step) {
        SCOPED_TRACE("cancel at step " + std::to_string(step));
        const TProbeRun run = scene.Run(QStringList{QStringLiteral("cancel"), QString::number(step)} + more);
        const bool taken = step <= lastCancellable;
        EXPECT_EQ(run.cancel, taken ? QStringLiteral("accepted") : QStringLiteral("refused"));
        EXPECT_EQ(run.outcome, taken ? QStringLiteral("cancelled") : QStringLiteral("saved")) << run.message.toStdString();
        scene.CheckAfterEnd(run);
    }
}

} // namespace

// The point of no return of a save in place: the copy of the old bytes is
// synced, and the first of them is about to be replaced. Before it a cancel
// is taken and changes nothing; from it on the save finishes.
TEST(InterruptedSaves, ASaveInPlaceCanBeCancelledUntilItsFirstOldByteIsReplaced)
{
    const TScene scene(40, 60);
    ExpectCancelsTakenUntil(scene, scene.FirstChange() - 1);
}

// A file of one name is saved by renaming a new file over it: a cancel is
// taken while the new file is written and synced, and refused from the
// commit on, before the file is replaced.
TEST(InterruptedSaves, ASaveByRenamingCanBeCancelledUntilItIsCommitted)
{
    const TScene scene(40, 60);
    scene.SeparateTheNames();
    const TProbeRun whole = scene.Run({});
    ASSERT_EQ(whole.outcome, QStringLiteral("saved"));
    PutFile(scene.Target(), scene.Old());
    int lastTaken = 0;
    for (int step = 1; step <= whole.steps; ++step) {
        SCOPED_TRACE("cancel at step " + std::to_string(step));
        const TProbeRun run = scene.Run({QStringLiteral("cancel"), QString::number(step)});
        const bool taken = run.cancel == QStringLiteral("accepted");
        if (taken) {
            EXPECT_EQ(lastTaken, step - 1) << "a cancel refused once is refused from then on";
            lastTaken = step;
        }
        EXPECT_EQ(run.outcome, taken ? QStringLiteral("cancelled") : QStringLiteral("saved"));
        EXPECT_EQ(FileBytes(scene.Target()), taken ? scene.Old() : scene.New());
        EXPECT_EQ(scene.Leftovers(), QStringList());
        PutFile(scene.Target(), scene.Old());
    }
    // Taken while the new file is written and synced; refused by the time
    // the file is replaced.
    EXPECT_GE(lastTaken, 2);
    EXPECT_LT(lastTaken, whole.firstChange);
}

// A picture of many rows goes into its new file in several writes as it is
// encoded: a failure at any of them, or at a sync, fails the save, and a
// cancel at any of them is taken; either way the old file stays as it was
// and no new file is left.
TEST(InterruptedSaves, ASaveByRenamingThatFailsOrIsCancelledWhileItsRowsAreWrittenKeepsTheOldFile)
{
    const TScene scene(40, 1100);
    scene.SeparateTheNames();
    const TProbeRun whole = scene.Run({});
    ASSERT_EQ(whole.outcome, QStringLiteral("saved"));
    PutFile(scene.Target(), scene.Old());
    const QString failure = QStringLiteral("Cannot save %1: input/output error").arg(QuotedPath(scene.Target()));
    int failed = 0, cancelled = 0;
    for (int step = 1; step <= whole.steps; ++step)
        for (const char *mode : {"fail", "cancel"}) {
            SCOPED_TRACE(std::string(mode) + " at step " + std::to_string(step));
            const TProbeRun run = scene.Run({QLatin1String(mode), QString::number(step)});
            const bool kept = run.outcome == QStringLiteral("failed") || run.outcome == QStringLiteral("cancelled");
            if (run.outcome == QStringLiteral("failed")) {
                ++failed;
                EXPECT_EQ(run.message, failure);
            } else if (run.outcome == QStringLiteral("cancelled")) {
                ++cancelled;
                // Nothing is written once the cancel is taken; the new file
                // may yet be removed.
                EXPECT_LE(run.steps, step + 1);
            } else {
                EXPECT_EQ(run.outcome, QStringLiteral("saved")) << run.message.toStdString();
            }
            EXPECT_EQ(FileBytes(scene.Target()), kept ? scene.Old() : scene.New());
            EXPECT_EQ(scene.Leftovers(), QStringList());
            PutFile(scene.Target(), scene.Old());
        }
    // The rows took two writes or more, each failed in turn, and so did
    // the sync of the new file (the commit's own sync fails nothing); a
    // cancel was taken at each write.
    EXPECT_GE(failed, 3);
    EXPECT_GE(cancelled, 2);
}

// An attribute that the new file cannot be given sends the save to the file
// in place: the point of no return is then that of the save in place, not
// the commit the renaming save gave up.
TEST(InterruptedSaves, ASaveThatFallsBackToWritingInPlaceCanBeCancelledUntilItsFirstOldByteIsReplaced)
{
    const TScene scene(40, 60);
    // A file of one name alone is saved by renaming a new one over it, until
    // its attribute is refused.
    scene.SeparateTheNames();
    if (::setxattr(QFile::encodeName(scene.Target()).constData(), "user.xdg.tags", "sea", 3, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    const TProbeRun whole = scene.Run({QStringLiteral("--attributes-refused")});
    ASSERT_EQ(whole.outcome, QStringLiteral("saved")) << whole.message.toStdString();
    EXPECT_EQ(FileBytes(scene.Target()), scene.New());
    PutFile(scene.Target(), scene.Old());
    for (int step = 1; step <= whole.steps; ++step) {
        SCOPED_TRACE("cancel at step " + std::to_string(step));
        const TProbeRun run = scene.Run({QStringLiteral("cancel"), QString::number(step), QStringLiteral("--attributes-refused")});
        const bool taken = step < whole.firstChange;
        EXPECT_EQ(run.cancel, taken ? QStringLiteral("accepted") : QStringLiteral("refused"));
        EXPECT_EQ(run.outcome, taken ? QStringLiteral("cancelled") : QStringLiteral("saved"));
        EXPECT_EQ(FileBytes(scene.Target()), taken ? scene.Old() : scene.New());
        EXPECT_EQ(scene.Leftovers(), QStringList());
        PutFile(scene.Target(), scene.Old());
    }
}

// Killed from outside, as a logout or the user would, while a big picture
// is saved over a big hard-linked file: while its old bytes are copied
// aside, and while the new ones are written over them.
TEST(InterruptedSaves, AKillFromOutsideWhileABigPictureIsSavedInPlaceLeavesAPictureWhole)
{
    // Big enough that writing it takes far longer than the kill takes to land.
    const TScene scene(2000, 3000);
    const QByteArray oldHead = scene.Old().left(64);
    const auto whileCopying = [&] {
        for (const QString &path : scene.Leftovers())
            if (QFileInfo(path).fileName().startsWith(QStringLiteral(".shared.old-"))) return true;
        return false;
    };
    const auto whileWriting = [&] {
        QFile file(scene.Target());
        return file.open(QIODevice::ReadOnly) && file.read(64) != oldHead;
    };
    int told = 0;
    for (const auto &moment : {std::function<bool()>(whileCopying), std::function<bool()>(whileWriting)}) {
        QProcess probe;
        scene.Start(probe, {});
        // Looked for without a pause, so that the kill lands at that moment.
        const QDeadlineTimer deadline(60000);
        while (!moment() && !probe.waitForFinished(0) && !deadline.hasExpired()) {
        }
        probe.kill();
        EXPECT_TRUE(Finished(probe).killed) << "the save ended before the kill came";
        told += scene.CheckAfterKill();
    }
    // Written over half-way, the file's old picture is told of.
    EXPECT_GE(told, 1);
}

// A pipe or device keeps no old bytes to go back to: once the first byte is
// about to go out, a cancel is refused and every byte goes.
TEST(InterruptedSaves, ASaveToAPipeRefusesACancelOnceItsFirstByteIsAboutToGoOut)
{
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("new.bmp")), pipe = dir.filePath(QStringLiteral("pipe.bmp"));
    WritePictureFile(picture, *Noise(30, 4));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    // Open for reading throughout: the picture fits in the pipe's buffer.
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    QProcess probe;
    StartProbe(probe, {picture, pipe, QStringLiteral("cancel"), QStringLiteral("1")}, dir.filePath(QStringLiteral("cache")));
    const TProbeRun run = Finished(probe);
    EXPECT_EQ(run.cancel, QStringLiteral("refused"));
    EXPECT_EQ(run.outcome, QStringLiteral("saved")) << run.message.toStdString();
    QByteArray got(1 << 16, '\0');
    const ssize_t size = ::read(reader, got.data(), got.size());
    ::close(reader);
    EXPECT_EQ(got.left(size < 0 ? 0 : size), FileBytes(picture));
}

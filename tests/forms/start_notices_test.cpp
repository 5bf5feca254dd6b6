// What the program tells once its window is up: a save in place that a
// killed run left half-way, and where the file's old picture is kept.
#include "support/main_window_fixture.h"

#include "platform/files/picture_files.h"
#include "platform/files/disk/unfinished_saves.h"
#include "support/disk_files.h"
#include "support/failures.h"
#include "support/save_probe_runs.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

using StartNoticesTest = MainWindowTest;

TEST_F(StartNoticesTest, ASaveKilledHalfWayIsToldOnceTheWindowIsUpWithWhereTheOldPictureIs)
{
    const QString target = PathIn(QStringLiteral("shared.bmp")), picture = PathIn(QStringLiteral("new.bmp"));
    WritePictureFile(target, *GreyRamp(300, 200));
    ASSERT_EQ(::link(QFile::encodeName(target).constData(), QFile::encodeName(PathIn(QStringLiteral("link.bmp"))).constData()), 0);
    const QByteArray old = FileBytes(target);
    WritePictureFile(picture, *GreyRamp(400, 300));
    // Saved over the hard-linked file by the probe, which dies half-way
    // through its first write over the old bytes.
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    const TProbeRun whole = RunProbe({picture, target}, cache);
    ASSERT_EQ(whole.outcome, QStringLiteral("saved"));
    PutFile(target, old);
    ASSERT_TRUE(RunProbe({picture, target, QStringLiteral("die-during"), QString::number(whole.firstChange + 1)}, cache).killed);
    const QStringList copies = QDir(PathIn(QString())).entryList({QStringLiteral(".shared.old-*.bmp")}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(copies.size(), 1);
    const QString copy = PathIn(copies[0]);
    EXPECT_EQ(FileBytes(copy), old);

    QString told;
    AnswerNextMessageBox(&told);
    Application->HandleEventOnceRunning(CheckUnfinishedSaves);
    // Not before the loop runs: the window comes up first.
    EXPECT_TRUE(told.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 5000));
    EXPECT_EQ(told, QStringLiteral("The program ended before it finished saving %1, which may hold only part of the new picture. "
                                   "The picture it held before is kept in %2.")
                        .arg(QuotedPath(target), QuotedPath(copy)));
    // Told once; the copy stays for the user.
    EXPECT_EQ(MessageOf(CheckUnfinishedSaves), NoException);
    EXPECT_EQ(FileBytes(copy), old);
}

// The window while long work runs: it repaints, shows the busy cursor and the
// progress, lets nothing else be chosen meanwhile, and Cancel restores the
// state; once the work can no longer stop, Cancel is refused.
#include "support/main_window_fixture.h"

#include "platform/base/work_progress.h"
#include "platform/controls/waiting.h"
#include "platform/files/picture_files.h"
#include "support/disk_files.h"
#include "support/slow_work.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <optional>
#include <chrono>
#include <thread>

namespace {

// Grey checks, 8 bits a pixel: the operations complement their bytes.
std::unique_ptr<TBitmap> Stripes(int width, int height)
{
    auto picture = MakeBitmap(width, height, pf8bit);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture->GetScanline(y)[x] = ((x / 4 + y / 4) % 2) ? 0x30 : 0xD0;
    return picture;
}

} // namespace

class WaitingTest : public MainWindowTest {
protected:
    // What the image control shows on screen now, as an image.
    QImage ShownOnScreen() { return Form().Image1->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // While held work runs: the control repaints the picture shown before
    // (not the bitmap the work changes), the cursor says busy, and nothing
    // else can be chosen.
    void ExpectTheOldPictureBusyAndNothingElseChosen(const QImage &before)
    {
        Form().Image1->update();
        QTest::qWait(10);
        EXPECT_EQ(ShownOnScreen(), before);
        EXPECT_TRUE(QTest::qWaitFor([] { return CursorNow() == Qt::WaitCursor; }, 2000));
        TryToChooseSomethingElse();
    }

    // The user tries every way to choose something else; nothing may open
    // while the work runs (ExpectOnlyTheHeldOpenAfterwards says what comes
    // once it is done).
    void TryToChooseSomethingElse()
    {
        // Shortcuts act only in the active window, as the user's click makes it.
        Form().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
        QTest::keyClick(&Form(), Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(&Form(), Qt::Key_S, Qt::ControlModifier);
        QTest::mouseClick(Form().MainMenu1, Qt::LeftButton, {}, Form().MainMenu1->actionGeometry(Form().File1->menuAction()).center());
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
        QTest::qWait(50);
        EXPECT_FALSE(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
        EXPECT_FALSE(Form().File1->isVisible()) << "the File menu opened";
        EXPECT_EQ(Form().Edit2->GetText(), "Edit2") << "Button1 was clicked";
    }

    // Once the command is done, what TryToChooseSomethingElse pressed comes
    // back in order: Ctrl+O opens its dialog, which ends the giving back, so
    // that Ctrl+S, the menu and Button1, meant for the window now behind it,
    // are dropped.
    void ExpectOnlyTheHeldOpenAfterwards()
    {
        QString title;
        OnNextModalWindowOf("QFileDialog", [&title](QWidget *dialog) {
            title = dialog->windowTitle();
            static_cast<QFileDialog *>(dialog)->reject();
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return !title.isEmpty(); }, 5000));
        EXPECT_EQ(title, "Open");
        // A second dialog would be a held key that should have been dropped.
        bool another = false;
        OnNextModalWindowOf("QFileDialog", [&another](QWidget *dialog) {
            another = true;
            static_cast<QFileDialog *>(dialog)->reject();
        });
        QTest::qWait(100);
        EXPECT_FALSE(another);
        ForgetPendingAnswers();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_FALSE(Form().File1->isVisible()) << "the File menu opened";
        EXPECT_EQ(Form().Edit2->GetText(), "Edit2") << "Button1 was clicked";
    }
};

TEST_F(WaitingTest, OpeningShowsProgressKeepsTheWindowAnsweringAndCancelKeepsTheOldPicture)
{
    WritePictureFile(PathIn("new.bmp"), *MakeBitmap(40, 30, pf24bit));
    ShowPicture(*Stripes(24, 16));
    const QImage before = ShownOnScreen();
    SlowWork slow(SlowWork::THold::AfterWork);
    MessageBoxWatch boxes;

    bool checked = false;
    slow.WhileHeld([&] {
        // The picture is decoded, not yet shown: the control still repaints
        // the old one.
        ExpectTheOldPictureBusyAndNothingElseChosen(before);
        ASSERT_TRUE(QTest::qWaitFor([] { return ShownProgressDialog() != nullptr; }, 5000));
        QProgressDialog *dialog = ShownProgressDialog();
        EXPECT_TRUE(dialog->labelText().contains("new.bmp")) << dialog->labelText().toStdString();
        auto *cancel = dialog->findChild<QPushButton *>();
        ASSERT_TRUE(cancel);
        EXPECT_EQ(cancel->text(), "Cancel");
        QTest::mouseClick(cancel, Qt::LeftButton);
        // Up, saying so, until the work stops.
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->labelText(), "Cancelling…");
        EXPECT_FALSE(cancel->isEnabled());
        checked = true;
    });
    OpenWithShortcut(PathIn("new.bmp"));
    ExpectOnlyTheHeldOpenAfterwards();

    EXPECT_TRUE(checked);
    EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join(", ").toStdString();
    EXPECT_TRUE(SameBitmap(Shown(), *Stripes(24, 16)));
    EXPECT_EQ(Form().Image1->size(), QSize(24, 16));
    EXPECT_EQ(ShownOnScreen(), before);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(ShownProgressDialog(), nullptr);

    // Nothing is left blocked: the next open goes through.
    slow.WhileHeld([] {});
    OpenWithShortcut(PathIn("new.bmp"));
    EXPECT_TRUE(SameBitmap(Shown(), *MakeBitmap(40, 30, pf24bit)));
}

TEST_F(WaitingTest, CancellingASaveLeavesTheOldFileByteForByte)
{
    const QByteArray old = "the old file, which no cancelled save may touch";
    PutFile(PathIn("kept.bmp"), old);
    ShowPicture(*Stripes(300, 200));
    SlowWork slow(SlowWork::THold::BeforeWork);
    // From the work on: the file dialog asks first whether to replace.
    std::optional<MessageBoxWatch> boxes;

    bool checked = false;
    slow.WhileHeld([&] {
        boxes.emplace();
        TryToChooseSomethingElse();
        ASSERT_TRUE(QTest::qWaitFor([] { return ShownProgressDialog() != nullptr; }, 5000));
        EXPECT_TRUE(ShownProgressDialog()->labelText().contains("kept.bmp"));
        EXPECT_EQ(CursorNow(), Qt::WaitCursor);
        // Escape in the dialog cancels as its button does.
        QTest::keyClick(ShownProgressDialog(), Qt::Key_Escape);
        checked = true;
    });
    AnswerReplaceYes();
    SaveWithShortcut(PathIn("kept.bmp"));
    ExpectOnlyTheHeldOpenAfterwards();

    EXPECT_TRUE(checked);
    ASSERT_TRUE(boxes);
    EXPECT_TRUE(boxes->Texts().isEmpty()) << boxes->Texts().join(", ").toStdString();
    EXPECT_EQ(FileBytes(PathIn("kept.bmp")), old);
    EXPECT_EQ(QDir(PathIn("")).entryList(QDir::Files | QDir::Hidden), QStringList({"kept.bmp"}));

    // The same save, not cancelled, replaces the file.
    boxes.reset();
    slow.WhileHeld([] {});
    AnswerReplaceYes();
    SaveWithShortcut(PathIn("kept.bmp"));
    TBitmap saved;
    ReadPictureFile(PathIn("kept.bmp"), saved);
    EXPECT_TRUE(SameBitmap(saved, *Stripes(300, 200)));
}

TEST_F(WaitingTest, AnOperationShowsThePictureAsItWasUntilItIsDone)
{
    ShowPicture(*Stripes(24, 16));
    const QImage before = ShownOnScreen();
    SlowWork slow(SlowWork::THold::AfterWork);

    bool checked = false;
    slow.WhileHeld([&] {
        // The bitmap is complemented already; the control repaints what it
        // showed before, without reading it.
        ExpectTheOldPictureBusyAndNothingElseChosen(before);
        // An operation cannot stop half-way: it has no progress dialog.
        QTest::qWait(ProgressDialogDelayMs + 200);
        EXPECT_EQ(ShownProgressDialog(), nullptr);
        checked = true;
    });
    Form().Complement1->trigger();
    ExpectOnlyTheHeldOpenAfterwards();

    EXPECT_TRUE(checked);
    auto complemented = Stripes(24, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) complemented->GetScanline(y)[x] ^= 0xFF;
    EXPECT_TRUE(SameBitmap(Shown(), *complemented));
    QImage expected = before;
    expected.invertPixels();
    EXPECT_EQ(ShownOnScreen(), expected);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WaitingTest, TheCloseButtonDuringWorkCancelsItAndEndsTheMessageLoopOnceItEnds)
{
    WritePictureFile(PathIn("new.bmp"), *MakeBitmap(40, 30, pf24bit));
    ShowPicture(*Stripes(24, 16));
    SlowWork slow(SlowWork::THold::BeforeWork);
    MessageBoxWatch boxes;

    bool refused = false;
    slow.WhileHeld([&] {
        refused = !Form().windowHandle()->close();
        EXPECT_TRUE(Form().isVisible());
    });
    QTimer::singleShot(0, &Form(), [this] { OpenWithShortcut(PathIn("new.bmp")); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QApplication::exit(1); });
    giveUp.start(20000);
    EXPECT_EQ(QApplication::exec(), 0);

    EXPECT_TRUE(refused);
    EXPECT_FALSE(Form().isVisible());
    EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join(", ").toStdString();
    EXPECT_TRUE(SameBitmap(Shown(), *Stripes(24, 16)));
}

TEST_F(WaitingTest, AnErrorInTheWorkReachesTheMessageBoxAsBefore)
{
    ShowPicture(*Stripes(8, 8));
    {
        QFile empty(PathIn("empty.bmp"));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    }
    SlowWork slow(SlowWork::THold::BeforeWork);
    MessageBoxWatch boxes;
    slow.WhileHeld([] { EXPECT_TRUE(QTest::qWaitFor([] { return CursorNow() == Qt::WaitCursor; }, 2000)); });
    OpenWithShortcut(PathIn("empty.bmp"));
    EXPECT_EQ(boxes.Texts(), QStringList("Cannot open \"" + QDir::toNativeSeparators(PathIn("empty.bmp")) + "\": the file is empty"));
    // The box came once the wait was over, under the ordinary cursor.
    EXPECT_EQ(boxes.Cursors(), QList<Qt::CursorShape>({Qt::ArrowCursor}));
    EXPECT_TRUE(SameBitmap(Shown(), *Stripes(8, 8)));
}

// A pipe fed by another program: the first half of a picture comes, then
// nothing while the user waits and cancels.
TEST_F(WaitingTest, APictureComingSlowlyThroughAPipeCanBeCancelledWhileTheWindowAnswers)
{
    ShowPicture(*Stripes(24, 16));
    const QImage before = ShownOnScreen();
    const QString fifo = PathIn("slow.bmp");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray bytes = EncodePicture(*MakeBitmap(100, 60, pf24bit), TPictureFileFormat::Bmp);
    // Held open for writing all along, as a program still writing holds it.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, bytes.constData(), static_cast<std::size_t>(bytes.size() / 2)), bytes.size() / 2);
    MessageBoxWatch boxes;

    bool checked = false;
    WhenProgressShows steps([&](QProgressDialog *dialog) {
        ExpectTheOldPictureBusyAndNothingElseChosen(before);
        EXPECT_TRUE(dialog->labelText().contains("slow.bmp"));
        QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
        checked = true;
    });
    OpenWithShortcut(fifo);
    ::close(writer);
    ExpectOnlyTheHeldOpenAfterwards();

    EXPECT_TRUE(checked);
    EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join(", ").toStdString();
    EXPECT_TRUE(SameBitmap(Shown(), *Stripes(24, 16)));
    EXPECT_EQ(ShownOnScreen(), before);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WaitingTest, OnceASaveCanNoLongerStopCancelIsRefusedAndTheDialogSaysItIsFinishing)
{
    PutFile(PathIn("kept.bmp"), QByteArray("the old file, about to be replaced"));
    ShowPicture(*Stripes(300, 200));
    // As a save does just before it replaces its file.
    SlowWork slow(SlowWork::THold::FinishingBeforeWork);
    // From the work on: the file dialog asks first whether to replace.
    std::optional<MessageBoxWatch> boxes;

    bool checked = false;
    slow.WhileHeld([&] {
        boxes.emplace();
        ASSERT_TRUE(QTest::qWaitFor([] { return ShownProgressDialog() != nullptr; }, 5000));
        QProgressDialog *dialog = ShownProgressDialog();
        auto *cancel = dialog->findChild<QPushButton *>();
        ASSERT_TRUE(cancel);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !cancel->isEnabled(); }, 2000));
        EXPECT_EQ(dialog->labelText(), "Saving kept.bmp\nFinishing: it can no longer be cancelled.");
        // Neither Escape nor the dialog's own close can stop it now.
        QTest::keyClick(dialog, Qt::Key_Escape);
        dialog->close();
        QTest::qWait(150);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->labelText(), "Saving kept.bmp\nFinishing: it can no longer be cancelled.");
        checked = true;
    });
    AnswerReplaceYes();
    SaveWithShortcut(PathIn("kept.bmp"));

    EXPECT_TRUE(checked);
    ASSERT_TRUE(boxes);
    EXPECT_TRUE(boxes->Texts().isEmpty()) << boxes->Texts().join(", ").toStdString();
    TBitmap saved;
    ReadPictureFile(PathIn("kept.bmp"), saved);
    EXPECT_TRUE(SameBitmap(saved, *Stripes(300, 200)));
    EXPECT_EQ(ShownProgressDialog(), nullptr);
}

// Work that goes on after Cancel was pressed and returns as if nothing was:
// a save doing so has written its file, an opening's result is dropped.
TEST_F(WaitingTest, ASaveThatReturnedIsDoneWhateverWasPressedAnOpeningIsCancelled)
{
    const auto ignoreTheCancel = [] {
        for (int waited = 0; waited < 10000; waited += 5) {
            try {
                CheckCancelled();
            } catch (const ECancelled &) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "Cancel was never pressed";
    };
    for (const TLongWork kind : {TLongWork::Saving, TLongWork::Opening}) {
        WhenProgressShows cancel([](QProgressDialog *dialog) { QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton); });
        bool cancelled = false;
        try {
            RunLongWork(kind, QStringLiteral("Working"), ignoreTheCancel);
        } catch (const ECancelled &) {
            cancelled = true;
        }
        EXPECT_EQ(cancelled, kind == TLongWork::Opening) << static_cast<int>(kind);
    }
}

// Closing the window while work runs, by its close button or by a stop
// signal: the request is never lost, an opening is given up, a save and an
// operation run to their end, and then the window closes.
#include "support/main_window_fixture.h"

#include "platform/controls/stop_signals.h"
#include "platform/files/picture_files.h"
#include "support/disk_files.h"
#include "support/slow_work.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QToolTip>
#include <QProgressDialog>

#include <csignal>
#include <unistd.h>

namespace {

// Asks the window to close as its close button does; true when it closed.
bool CloseButton(TForm1 &form) { return form.windowHandle()->close(); }

// What the closing line of the progress dialog says.
const QString ClosingLine = QStringLiteral("The window closes once this is done.");

} // namespace

class ClosingTest : public MainWindowTest {
protected:
    // Runs command from the message loop, as a user's click does, and gives
    // the loop's exit code once the window has closed (1 after 20 s).
    int RunUntilTheWindowCloses(std::function<void()> command)
    {
        QTimer::singleShot(0, &Form(), std::move(command));
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QApplication::exit(1); });
        giveUp.start(20000);
        return QApplication::exec();
    }

    // A picture over an old file: what a save must replace whole.
    void ShowAPictureToSaveOver(const QString &name)
    {
        PutFile(PathIn(name), QByteArray("the old file"));
        ShowPicture(*GreyRamp(300, 200));
    }

    // Saves the picture over kept.bmp through Ctrl+S, the save held before
    // its work while `whileHeld` runs, and runs until the window has closed.
    void SaveOverKeptUntilTheWindowCloses(const std::function<void()> &whileHeld)
    {
        ShowAPictureToSaveOver("kept.bmp");
        SlowWork slow(SlowWork::THold::BeforeWork);
        bool ran = false;
        slow.WhileHeld([&] {
            whileHeld();
            ran = true;
        });
        EXPECT_EQ(RunUntilTheWindowCloses([this] {
                      AnswerReplaceYes();
                      SaveWithShortcut(PathIn("kept.bmp"));
                  }),
                  0);
        EXPECT_TRUE(ran);
        EXPECT_FALSE(Form().isVisible());
    }

    void ExpectTheSaveWhole(const QString &name)
    {
        TBitmap saved;
        ReadPictureFile(PathIn(name), saved);
        EXPECT_TRUE(SameBitmap(saved, *GreyRamp(300, 200)));
    }
};

// Before, the close cancelled the save and said nothing: the file stayed old.
TEST_F(ClosingTest, ClosingDuringASaveBeforeItsProgressShowsFinishesTheSaveThenCloses)
{
    SaveOverKeptUntilTheWindowCloses([&] {
        ASSERT_EQ(ShownProgressDialog(), nullptr);
        EXPECT_FALSE(CloseButton(Form()));
        EXPECT_TRUE(Form().isVisible());
        // The progress shows at once, saying what comes.
        QProgressDialog *dialog = ShownProgressDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->labelText(), "Saving kept.bmp\n" + ClosingLine);
        EXPECT_TRUE(dialog->findChild<QPushButton *>()->isEnabled());
    });
    ExpectTheSaveWhole("kept.bmp");
}

// Before, the progress dialog was modal, and Qt drops a window manager's
// close of a window behind a modal one: the close was lost.
TEST_F(ClosingTest, ClosingDuringASaveWhoseProgressShowsFinishesTheSaveThenCloses)
{
    SaveOverKeptUntilTheWindowCloses([&] {
        ASSERT_TRUE(QTest::qWaitFor([] { return ShownProgressDialog() != nullptr; }, 5000));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the window behind the progress is blocked";
        EXPECT_FALSE(CloseButton(Form()));
        EXPECT_EQ(ShownProgressDialog()->labelText(), "Saving kept.bmp\n" + ClosingLine);
    });
    ExpectTheSaveWhole("kept.bmp");
}

TEST_F(ClosingTest, ASaveCancelledAfterTheCloseLeavesTheOldFileAndStillCloses)
{
    SaveOverKeptUntilTheWindowCloses([&] {
        EXPECT_FALSE(CloseButton(Form()));
        ASSERT_NE(ShownProgressDialog(), nullptr);
        QTest::mouseClick(ShownProgressDialog()->findChild<QPushButton *>(), Qt::LeftButton);
        EXPECT_EQ(ShownProgressDialog()->labelText(), "Cancelling…\n" + ClosingLine);
    });
    EXPECT_EQ(FileBytes(PathIn("kept.bmp")), QByteArray("the old file"));
}

TEST_F(ClosingTest, ClosingDuringAnOperationLetsItEndThenCloses)
{
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] {
        EXPECT_FALSE(CloseButton(Form()));
        // An operation cannot stop and shows no progress.
        EXPECT_EQ(ShownProgressDialog(), nullptr);
    });
    EXPECT_EQ(RunUntilTheWindowCloses([this] { Form().Complement1->trigger(); }), 0);
    EXPECT_FALSE(Form().isVisible());
    EXPECT_EQ(Shown().GetScanline(3)[5], 255 - GreyRamp(40, 30)->GetScanline(3)[5]);
}

TEST_F(ClosingTest, AFailedSaveAfterACloseShowsItsMessageBeforeTheWindowCloses)
{
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] { EXPECT_FALSE(CloseButton(Form())); });
    QString message;
    bool visibleWithTheMessage = false;
    OnNextModalWindowOf("QMessageBox", [&](QWidget *box) {
        message = static_cast<QMessageBox *>(box)->text();
        visibleWithTheMessage = Form().isVisible();
        box->close();
    });
    EXPECT_EQ(RunUntilTheWindowCloses([this] { SaveWithShortcut(PathIn("a.gif")); }), 0);
    EXPECT_TRUE(message.startsWith("Cannot save")) << message.toStdString();
    EXPECT_TRUE(visibleWithTheMessage);
    EXPECT_FALSE(Form().isVisible());
}

TEST_F(ClosingTest, ACloseDropsTheInputHeldBeforeIt)
{
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] {
        PressInActiveWindow(Qt::Key_O, Qt::ControlModifier);
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
        EXPECT_FALSE(CloseButton(Form()));
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
    });
    bool opened = false;
    OnNextModalWindowOf("QFileDialog", [&opened](QWidget *dialog) {
        opened = true;
        static_cast<QFileDialog *>(dialog)->reject();
    });
    EXPECT_EQ(RunUntilTheWindowCloses([this] { Form().Complement1->trigger(); }), 0);
    QTest::qWait(100);
    EXPECT_FALSE(opened) << "the held Ctrl+O came back";
    EXPECT_EQ(Form().Edit2->GetText(), "Edit2") << "Button1 was clicked";
    EXPECT_EQ(ForgetPendingAnswers(), 1);
}

// A tool tip that goes during the work closes its own window: no close of
// the program's, which would drop the held click.
TEST_F(ClosingTest, AToolTipGoingDuringWorkIsNoCloseRequest)
{
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] {
        QToolTip::showText(Form().mapToGlobal(QPoint(20, 20)), "a tip", &Form());
        ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 2000));
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
        QToolTip::hideText();
        QTest::qWait(50);
    });
    Form().Complement1->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Form().Edit2->GetText() != "Edit2"; }, 5000));
    EXPECT_TRUE(Form().isVisible());
}

TEST_F(ClosingTest, EachStopSignalClosesTheWindowAsItsCloseButtonDoes)
{
    TStopSignals stop(&Form());
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Form().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
        ASSERT_EQ(::kill(::getpid(), signal), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Form().isVisible(); }, 5000)) << signal;
    }

    // A dialog in front closes first, as it would for the user.
    Form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    bool dialogClosed = false;
    OnNextModalWindowOf("QFileDialog", [&](QWidget *dialog) {
        ::kill(::getpid(), SIGTERM);
        dialogClosed = QTest::qWaitFor([dialog] { return !dialog->isVisible(); }, 5000);
        if (!dialogClosed) static_cast<QFileDialog *>(dialog)->reject();
    });
    Form().Save1->trigger();
    EXPECT_TRUE(dialogClosed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Form().isVisible(); }, 5000));
    EXPECT_TRUE(QDir(PathIn("")).entryList(QDir::Files).isEmpty());
}

TEST_F(ClosingTest, AStopSignalDuringASaveFinishesItThenCloses)
{
    TStopSignals stop(&Form());
    SaveOverKeptUntilTheWindowCloses([&] {
        ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
        EXPECT_TRUE(QTest::qWaitFor([] { return ShownProgressDialog() != nullptr; }, 5000));
        EXPECT_TRUE(Form().isVisible());
    });
    ExpectTheSaveWhole("kept.bmp");
}

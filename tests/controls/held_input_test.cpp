// Keys, clicks and pointer moves made while work runs are held and come
// back in order once the command is done; Escape acts at once.
#include "support/main_window_fixture.h"

#include "imaging/pixel_capture.h"
#include "platform/files/picture_files.h"
#include "support/disk_files.h"
#include "support/slow_work.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

#include <functional>
#include <memory>

namespace {

// Counts the events that reach an object and pass a test.
class EventCount : public QObject {
public:
    EventCount(QObject *watched, std::function<bool(const QEvent *)> counted) : counted_(std::move(counted))
    {
        watched->installEventFilter(this);
    }
    int Count() const { return count_; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (counted_(event)) ++count_;
        return false;
    }

private:
    std::function<bool(const QEvent *)> counted_;
    int count_ = 0;
};

} // namespace

using HeldInputTest = MainWindowTest;

TEST_F(HeldInputTest, KeysAndClicksMadeDuringWorkComeBackInOrderOnceItIsDone)
{
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::AfterWork);
    slow.WhileHeld([&] {
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
        QTest::keyClicks(Form().Edit2, "7");
        PressInActiveWindow(Qt::Key_S, Qt::ControlModifier);
        QTest::qWait(50);
        EXPECT_EQ(Form().Edit2->GetText(), "Edit2");
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    });
    QString dialogTitle;
    OnNextModalWindowOf("QFileDialog", [&dialogTitle](QWidget *dialog) {
        dialogTitle = dialog->windowTitle();
        static_cast<QFileDialog *>(dialog)->reject();
    });
    Form().Complement1->trigger();

    // The click, then the key typed after it, then Ctrl+S and its dialog.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialogTitle.isEmpty(); }, 5000));
    EXPECT_EQ(dialogTitle, "Save As");
    EXPECT_EQ(Form().Edit2->GetText(), QString::number(PixelTable[2][2]) + "7");

    // A key typed as the work ends, before what was held came back, follows it.
    Form().Edit2->SetText("Edit2");
    slow.WhileHeld([&] { QTest::mouseClick(Form().Button1, Qt::LeftButton); });
    Form().Complement1->trigger();
    QTest::keyClicks(Form().Edit2, "8");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Form().Edit2->GetText() == QString::number(PixelTable[2][2]) + "8"; }, 5000))
        << Form().Edit2->GetText().toStdString();
}

TEST_F(HeldInputTest, PointerMovesDuringWorkComeBackAsTheLastOne)
{
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::BeforeWork);
    std::unique_ptr<EventCount> moves;
    slow.WhileHeld([&] {
        PointAt(3, 4);
        PointAt(10, 11);
        PointAt(20, 21);
        EXPECT_EQ(PanelText(0), "");
        moves = std::make_unique<EventCount>(Form().Image1, [](const QEvent *event) { return event->type() == QEvent::MouseMove; });
    });
    Form().Complement1->trigger();

    EXPECT_TRUE(QTest::qWaitFor([&] { return PanelText(0) == "X=20"; }, 5000));
    EXPECT_EQ(PanelText(1), "Y=21");
    // Read from the picture as the operation left it.
    EXPECT_EQ(Form().Label1->GetCaption(), QString::number(255 - GreyRamp(40, 30)->GetScanline(21)[20]));
    EXPECT_EQ(moves->Count(), 1);
}

TEST_F(HeldInputTest, EscapeStopsAnOpeningAtOnceAndIsNotKept)
{
    WritePictureFile(PathIn("new.bmp"), *GreyRamp(40, 30));
    ShowPicture(*GreyRamp(24, 16));
    SlowWork slow(SlowWork::THold::BeforeWork);
    EventCount escapes(&Form(), [](const QEvent *event) {
        return event->type() == QEvent::KeyPress && static_cast<const QKeyEvent *>(event)->key() == Qt::Key_Escape;
    });
    slow.WhileHeld([&] {
        // Before the progress dialog is up: the window has the keyboard.
        EXPECT_EQ(ShownProgressDialog(), nullptr);
        QTest::keyClick(&Form(), Qt::Key_Escape);
    });
    OpenWithShortcut(PathIn("new.bmp"));
    QTest::qWait(50);

    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(24, 16)));
    EXPECT_EQ(escapes.Count(), 0);
}

TEST_F(HeldInputTest, InputForAWidgetGoneMeanwhileIsDroppedAndTheRestComesBack)
{
    ShowPicture(*GreyRamp(40, 30));
    auto *extra = new QLineEdit(Form().Edit2->parentWidget());
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] {
        QTest::keyClicks(extra, "gone");
        delete extra;
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
    });
    Form().Complement1->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Form().Edit2->GetText() != "Edit2"; }, 5000));
}

// The message box of a failed opening answers its keys, though a click held
// during the opening waits for the command's end.
TEST_F(HeldInputTest, AMessageAfterTheWorkTakesItsKeysWhileHeldInputWaits)
{
    PutFile(PathIn("empty.bmp"), QByteArray());
    ShowPicture(*GreyRamp(8, 8));
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] { QTest::mouseClick(Form().Button1, Qt::LeftButton); });
    QString message;
    bool answered = false;
    OnNextModalWindowOf("QMessageBox", [&](QWidget *box) {
        message = static_cast<QMessageBox *>(box)->text();
        QTest::keyClick(box, Qt::Key_Return);
        answered = QTest::qWaitFor([box] { return !box->isVisible(); }, 2000);
        if (!answered) static_cast<QMessageBox *>(box)->reject();
    });
    OpenWithShortcut(PathIn("empty.bmp"));
    EXPECT_TRUE(answered) << "Enter did not reach the message box";
    EXPECT_TRUE(message.endsWith("the file is empty")) << message.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Form().Edit2->GetText() != "Edit2"; }, 5000));
}

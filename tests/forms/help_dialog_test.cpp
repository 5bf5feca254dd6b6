// The help dialog: shown modally from the menu bar, closed by OK or Enter.
// Mouse events go through the window system, where modality is enforced.
#define QTEST_QPA_MOUSE_HANDLING
#include "support/main_window_fixture.h"

#include <QApplication>
#include <QScreen>

namespace {

struct Showing {
    bool visible = false;
    bool modal = false;
    QString caption;
    QString message;
    bool messageFits = false;
    QRect frame;
    QSize clientSize;
    bool fixedSize = false;
    bool minimisable = true;
};

Showing Look(QWidget *dialog)
{
    Showing seen;
    seen.visible = dialog->isVisible();
    seen.modal = QApplication::activeModalWidget() == dialog;
    seen.caption = dialog->windowTitle();
    seen.message = HelpDlg->Label1->GetCaption();
    seen.messageFits = HelpDlg->Label1->width() >= HelpDlg->Label1->sizeHint().width();
    seen.frame = dialog->frameGeometry();
    seen.clientSize = dialog->size();
    seen.fixedSize = dialog->minimumSize() == dialog->maximumSize();
    seen.minimisable = dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    return seen;
}

} // namespace

using HelpDialogTest = MainWindowTest;

TEST_F(HelpDialogTest, ShowsCentredModalAndEnterClosesIt)
{
    Showing seen;
    bool stayedOnEscape = false;
    OnNextModalWindow([&](QWidget *dialog) {
        seen = Look(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
        stayedOnEscape = dialog->isVisible();
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    Form().Help1->trigger();
    EXPECT_TRUE(seen.visible);
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(seen.caption, "Dialog");
    EXPECT_EQ(seen.message, "GOOD!!");
    EXPECT_TRUE(seen.messageFits);
    EXPECT_EQ(seen.clientSize, QSize(384, 179));
    EXPECT_TRUE(seen.fixedSize);
    EXPECT_FALSE(seen.minimisable);
    // Centred on the screen, give or take the rounding of the frame.
    EXPECT_LE((seen.frame.center() - QGuiApplication::primaryScreen()->availableGeometry().center()).manhattanLength(), 4);
    EXPECT_TRUE(stayedOnEscape);
    EXPECT_FALSE(HelpDlg->isVisible());
    EXPECT_EQ(HelpDlg->GetModalResult(), mrOk);
}

TEST_F(HelpDialogTest, ShowsTheSameDialogEachTimeAndOkOrTheCloseButtonEndIt)
{
    QWidget *first = nullptr;
    Showing firstLook;
    OnNextModalWindow([&](QWidget *dialog) {
        first = dialog;
        firstLook = Look(dialog);
        QTest::mouseClick(HelpDlg->OKBtn, Qt::LeftButton);
    });
    Form().Help1->trigger();
    EXPECT_EQ(HelpDlg->GetModalResult(), mrOk);

    Showing secondLook;
    OnNextModalWindow([&](QWidget *dialog) {
        EXPECT_EQ(dialog, first);
        secondLook = Look(dialog);
        dialog->windowHandle()->close();
    });
    Form().Help1->trigger();
    EXPECT_FALSE(HelpDlg->isVisible());
    EXPECT_EQ(secondLook.caption, firstLook.caption);
    EXPECT_EQ(secondLook.message, firstLook.message);
    EXPECT_EQ(secondLook.clientSize, firstLook.clientSize);
}

TEST_F(HelpDialogTest, TheMainWindowTakesNoInputWhileItIsUp)
{
    OnNextModalWindow([&](QWidget *dialog) {
        QTest::mouseClick(Form().Button1, Qt::LeftButton);
        QTest::mouseClick(Form().Image1, Qt::LeftButton);
        QTest::keyClick(Form().windowHandle(), Qt::Key_O, Qt::ControlModifier);
        EXPECT_EQ(QApplication::activeModalWidget(), dialog);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    Form().Help1->trigger();
    EXPECT_EQ(Form().Edit2->GetText(), "Edit2");
}

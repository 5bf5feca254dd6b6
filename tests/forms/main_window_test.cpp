// The main window as it starts: controls, texts, menus and closing.
#include "support/main_window_fixture.h"

#include <QApplication>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <stdexcept>

namespace {

QRect ClientBounds(QWidget *control)
{
    return QRect(control->mapTo(Form1->centralWidget(), QPoint(0, 0)), control->size());
}

QStringList Captions(const QList<QAction *> &actions)
{
    QStringList captions;
    for (QAction *action : actions) captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return captions;
}

} // namespace

TEST_F(MainWindowTest, StartsWithItsDescribedTexts)
{
    EXPECT_EQ(Form().GetCaption(), "Form1");
    EXPECT_EQ(Form().Label1->GetCaption(), "Label1");
    EXPECT_EQ(Form().Edit2->GetText(), "Edit2");
    EXPECT_EQ(Form().Edit3->GetText(), "Edit3");
    EXPECT_EQ(Form().Button1->GetCaption(), "Button1");
    EXPECT_EQ(Form().ComboBox1->GetText(), "100%");
    QStringList items;
    for (int i = 0; i < Form().ComboBox1->count(); ++i) items << Form().ComboBox1->itemText(i);
    EXPECT_EQ(items, QStringList({"25%", "50%", "75%", "100%", "150%", "200%"}));
    TStatusPanels *panels = Form().StatusBar1->GetPanels();
    ASSERT_EQ(panels->GetCount(), 2);
    EXPECT_EQ(panels->GetItem(0)->GetText(), "");
    EXPECT_EQ(panels->GetItem(1)->GetText(), "");
    EXPECT_EQ(panels->GetItem(0)->GetWidth(), 100);
    EXPECT_EQ(panels->GetItem(1)->GetWidth(), 50);
    EXPECT_THROW(panels->GetItem(2), Exception);
    EXPECT_FALSE(Form().Image1->GetAutoSize());
    EXPECT_FALSE(Form().Image1->GetStretch());
    EXPECT_TRUE(Shown().Empty());
}

TEST_F(MainWindowTest, LaysOutItsControlsWhereDescribed)
{
    EXPECT_EQ(Form().centralWidget()->width(), 688);
    EXPECT_EQ(Form().centralWidget()->height() + Form().StatusBar1->height(), 424);
    EXPECT_EQ(Form().StatusBar1->height(), 19);
    EXPECT_EQ(ClientBounds(Form().ToolBar1), QRect(0, 0, 688, 29));
    EXPECT_EQ(ClientBounds(Form().ComboBox1), QRect(16, 8, 145, 21));
    EXPECT_EQ(ClientBounds(Form().Image1), QRect(16, 32, 105, 105));
    EXPECT_EQ(ClientBounds(Form().Button1), QRect(560, 40, 75, 25));
    EXPECT_EQ(ClientBounds(Form().Edit2), QRect(560, 72, 121, 21));
    EXPECT_EQ(ClientBounds(Form().Edit3), QRect(560, 96, 121, 21));
    EXPECT_EQ(ClientBounds(Form().Label1).topLeft(), QPoint(584, 144));
    // Every caption fits: the label is as wide as its text needs.
    EXPECT_GE(Form().Label1->width(), Form().Label1->sizeHint().width());
    // The zoom box lies over the tool bar strip, not under it.
    EXPECT_EQ(Form().centralWidget()->childAt(20, 12)->window(), &Form());
    EXPECT_TRUE(Form().ComboBox1->isAncestorOf(Form().centralWidget()->childAt(20, 12))
                || Form().centralWidget()->childAt(20, 12) == Form().ComboBox1);
}

TEST_F(MainWindowTest, MenusHaveTheirCaptionsShortcutsAndStates)
{
    EXPECT_EQ(Captions(Form().MainMenu1->actions()),
              QStringList({"File", "Edit", "View", "Image Processing", "Help"}));
    EXPECT_EQ(Captions(Form().File1->actions()), QStringList({"Open", "Close", "Save", "-", "Exit"}));
    EXPECT_EQ(Captions(Form().Exit1->actions()), QStringList({"Exit with Saving", "Exit without Saving"}));
    EXPECT_TRUE(Form().Edit1->actions().isEmpty());
    EXPECT_EQ(Captions(Form().View1->actions()), QStringList({"Flip/Rotate"}));
    EXPECT_EQ(Captions(Form().ImageProcessing1->actions()),
              QStringList({"Complement", "Thresholding", "Edge Detection"}));
    EXPECT_EQ(Form().Help1->menu(), nullptr);
    EXPECT_EQ(Form().Open1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(Form().Save1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_FALSE(Form().Close1->isEnabled());
}

TEST_F(MainWindowTest, ItemsWithoutHandlersChangeNothing)
{
    auto picture = MakeBitmap(4, 3, pf8bit);
    FillRandomBytes(*picture, 1);
    ShowPicture(*picture);
    Form().Close1->trigger();
    Form().ExitwithSaving1->trigger();
    Form().Edit1->menuAction()->trigger();
    EXPECT_TRUE(Form().isVisible());
    EXPECT_TRUE(SameBitmap(Shown(), *picture));
    EXPECT_EQ(Form().Image1->size(), QSize(4, 3));
}

TEST_F(MainWindowTest, ExitWithoutSavingEndsTheMessageLoop)
{
    QTimer::singleShot(0, &Form(), [this] { Form().ExitwithoutSaving1->trigger(); });
    QApplication::exec();
    EXPECT_FALSE(Form().isVisible());
}

TEST_F(MainWindowTest, TheCloseButtonEndsTheMessageLoop)
{
    QTimer::singleShot(0, &Form(), [this] { Form().windowHandle()->close(); });
    QApplication::exec();
    EXPECT_FALSE(Form().isVisible());
}

TEST_F(MainWindowTest, ScrollsWhenThePictureOutgrowsTheWindow)
{
    auto picture = MakeBitmap(1500, 1200, pf8bit);
    ShowPicture(*picture);
    QApplication::processEvents();
    auto *scroll = Form().findChild<QScrollArea *>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_TRUE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    // The strip, the zoom box and the status bar stay in view.
    EXPECT_EQ(ClientBounds(Form().ComboBox1), QRect(16, 8, 145, 21));
    EXPECT_TRUE(Form().StatusBar1->isVisible());
}

// Whatever reaches the entry function or an event method is shown with a
// text: an exception of no known kind, or one without a message, gets a
// sentence of its own instead of an empty box.
TEST(EntryErrors, EveryKindOfExceptionGivesAText)
{
    const QString unknown = QStringLiteral("The program stopped because of an unknown error");
    const auto textOf = [&](const std::function<void()> &thrower) {
        try {
            thrower();
        } catch (...) {
            return TApplication::CurrentException(unknown).Message();
        }
        return QStringLiteral("(nothing thrown)");
    };
    EXPECT_EQ(textOf([] { throw 42; }), unknown);
    EXPECT_EQ(textOf([] { throw Exception(QString()); }), unknown);
    EXPECT_EQ(textOf([] { throw std::runtime_error("the disk went away"); }), "the disk went away");
    EXPECT_EQ(textOf([] { throw Exception(QStringLiteral("Cannot open")); }), "Cannot open");
}

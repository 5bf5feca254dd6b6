// What the desktop around the main window does with it: files opened from
// outside (at start or dropped, once any work is done), the keyboard and the
// screen reader's view of the window, and the Save dialog's proposal.
#include "support/main_window_fixture.h"

#include "platform/files/picture_files.h"
#include "support/disk_files.h"
#include "support/slow_work.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>

#include <functional>
#include <map>
#include <vector>

using DesktopTest = MainWindowTest;

namespace {

// What a screen reader finds walking the window's accessibility tree: each
// visible node's role, name and description, by the object it stands for.
struct TSpoken {
    QAccessible::Role role;
    QString name, description, value;
};

void Walk(QAccessibleInterface *node, std::vector<std::pair<QObject *, TSpoken>> &into)
{
    if (!node || node->state().invisible) return;
    into.push_back({node->object(), {node->role(), node->text(QAccessible::Name), node->text(QAccessible::Description),
                                     node->text(QAccessible::Value)}});
    for (int i = 0; i < node->childCount(); ++i) Walk(node->child(i), into);
}

std::vector<std::pair<QObject *, TSpoken>> SpokenTree(QWidget &window)
{
    std::vector<std::pair<QObject *, TSpoken>> nodes;
    Walk(QAccessible::queryAccessibleInterface(&window), nodes);
    return nodes;
}

// The names, then the descriptions, of the visible text fields under a
// widget, in tree order.
QStringList FieldsUnder(QWidget &window, QWidget *under)
{
    QStringList names, descriptions;
    for (const auto &[object, spoken] : SpokenTree(window))
        if (spoken.role == QAccessible::StaticText && under->isAncestorOf(qobject_cast<QWidget *>(object))) {
            names << spoken.name;
            descriptions << spoken.description;
        }
    return names + descriptions;
}

// A drag of `urls` entering the form and dropped at a point of the picture;
// gives whether the form took the drop.
bool DropOn(TForm1 &form, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = form.Image1->mapTo(&form, QPoint(2, 2));
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    return drop.isAccepted();
}

} // namespace

TEST_F(DesktopTest, AFileGivenAtStartOpensOnceTheLoopRunsAsOpenWould)
{
    WritePictureFile(PathIn("start.bmp"), *GreyRamp(21, 13));
    Form().ComboBox1->setCurrentIndex(Form().ComboBox1->findText("200%"));
    Form().OpenPictureOnceShown(PathIn("start.bmp"));
    // Not before the loop runs: the window comes up first.
    EXPECT_TRUE(Shown().Empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Shown().Empty(); }, 5000));
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(21, 13)));
    EXPECT_EQ(Form().Image1->size(), QSize(21, 13));
    EXPECT_EQ(Form().OpenPictureDialog1->GetFileName(), PathIn("start.bmp"));
}

TEST_F(DesktopTest, AFileThatCannotOpenAtStartSaysWhatOpenWouldSay)
{
    QString missing;
    AnswerNextMessageBox(&missing);
    Form().OpenPictureOnceShown(PathIn("missing.png"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !missing.isEmpty(); }, 5000));
    EXPECT_TRUE(missing.contains(QDir::toNativeSeparators(PathIn("missing.png")))) << missing.toStdString();
    EXPECT_TRUE(Shown().Empty());
    EXPECT_TRUE(Form().isVisible());

    PutFile(PathIn("damaged.png"), QByteArray("\x89PNG\r\n\x1a\n and nothing a picture needs"));
    QString atStart, fromMenu;
    AnswerNextMessageBox(&atStart);
    Form().OpenPictureOnceShown(PathIn("damaged.png"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !atStart.isEmpty(); }, 5000));
    AnswerNextMessageBox(&fromMenu);
    OpenWithShortcut(PathIn("damaged.png"));
    EXPECT_EQ(atStart, fromMenu);
    EXPECT_TRUE(Shown().Empty());
}

TEST_F(DesktopTest, ADroppedPictureFileOpensAndOtherDropsAreRefused)
{
    WritePictureFile(PathIn("dropped.png"), *GreyRamp(17, 9));
    EXPECT_FALSE(DropOn(Form(), {QUrl(QStringLiteral("https://example.invalid/a.png"))}));
    EXPECT_FALSE(DropOn(Form(), {}));
    EXPECT_TRUE(DropOn(Form(), {QUrl::fromLocalFile(PathIn("dropped.png"))}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Shown().Empty(); }, 5000));
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(17, 9)));
    EXPECT_EQ(Form().Image1->size(), QSize(17, 9));

    // A dropped file that is no picture: the message names it, the picture stays.
    PutFile(PathIn("notes.txt"), QByteArray("not a picture"));
    QString message;
    AnswerNextMessageBox(&message);
    EXPECT_TRUE(DropOn(Form(), {QUrl::fromLocalFile(PathIn("notes.txt"))}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !message.isEmpty(); }, 5000));
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(PathIn("notes.txt")))) << message.toStdString();
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(17, 9)));
}

// Before, their zero-length timers ran the opening inside the wait, on the
// picture the worker was still using.
TEST_F(DesktopTest, AFileGivenAtStartOrDroppedDuringWorkOpensOnceTheWorkIsDone)
{
    WritePictureFile(PathIn("start.bmp"), *GreyRamp(21, 13));
    WritePictureFile(PathIn("dropped.png"), *GreyRamp(17, 9));
    ShowPicture(*GreyRamp(40, 30));
    SlowWork slow(SlowWork::THold::AfterWork);
    slow.WhileHeld([&] {
        Form().OpenPictureOnceShown(PathIn("start.bmp"));
        EXPECT_TRUE(DropOn(Form(), {QUrl::fromLocalFile(PathIn("dropped.png"))}));
        QTest::qWait(100);
        EXPECT_EQ(Shown().GetWidth(), 40);
        EXPECT_EQ(Form().OpenPictureDialog1->GetFileName(), "");
    });
    Form().Complement1->trigger();

    // Both, in order, each waiting for the one before.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Form().OpenPictureDialog1->GetFileName() == PathIn("dropped.png"); }, 5000));
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(17, 9)));
}

TEST_F(DesktopTest, SaveProposesTheFileWhosePictureIsShownAndNoOther)
{
    const auto proposed = [this] {
        QString name;
        OnNextModalWindowOf("QFileDialog", [&name](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            name = QDir(dialog->directory()).filePath(dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text());
            dialog->reject();
        });
        PressInActiveWindow(Qt::Key_S, Qt::ControlModifier);
        return name;
    };
    WritePictureFile(PathIn("a.bmp"), *GreyRamp(8, 6));
    OpenWithShortcut(PathIn("a.bmp"));
    EXPECT_EQ(proposed(), PathIn("a.bmp"));

    // A file that ends early shows its rows: they are its picture now.
    QByteArray cut = EncodePicture(*GreyRamp(40, 30), TPictureFileFormat::Bmp);
    cut.chop(10 * 40);
    PutFile(PathIn("b.bmp"), cut);
    QString message;
    AnswerNextMessageBox(&message);
    OpenWithShortcut(PathIn("b.bmp"));
    EXPECT_TRUE(message.contains("ends early")) << message.toStdString();
    EXPECT_EQ(proposed(), PathIn("b.bmp"));

    // A file that cannot be read, and a cancelled opening, leave b's picture.
    PutFile(PathIn("c.png"), QByteArray("\x89PNG\r\n\x1a\n and nothing a picture needs"));
    AnswerNextMessageBox(&message);
    OpenWithShortcut(PathIn("c.png"));
    EXPECT_EQ(proposed(), PathIn("b.bmp"));
    SlowWork slow(SlowWork::THold::BeforeWork);
    slow.WhileHeld([&] { QTest::keyClick(&Form(), Qt::Key_Escape); });
    OpenWithShortcut(PathIn("a.bmp"));
    EXPECT_EQ(Shown().GetWidth(), 40);
    EXPECT_EQ(proposed(), PathIn("b.bmp"));
}

TEST_F(DesktopTest, SaveProposesTheOpenedFilesFolderAndNameAndTakesATypedOne)
{
    WritePictureFile(PathIn("opened.bmp"), *GreyRamp(8, 6));
    OpenWithShortcut(PathIn("opened.bmp"));
    ASSERT_FALSE(Shown().Empty());

    QString folder, proposed;
    OnNextModalWindowOf("QFileDialog", [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        folder = dialog->directory().absolutePath();
        proposed = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        dialog->reject();
    });
    PressInActiveWindow(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(folder, QFileInfo(PathIn("opened.bmp")).absolutePath());
    EXPECT_EQ(proposed, "opened.bmp");

    // A name typed over the proposal is the one saved; the opened file stays.
    const QByteArray original = [&] {
        QFile file(PathIn("opened.bmp"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    Form().Complement1->trigger();
    SaveWithShortcut(PathIn("copy.bmp"));
    EXPECT_TRUE(QFileInfo::exists(PathIn("copy.bmp")));
    QFile opened(PathIn("opened.bmp"));
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll(), original);
}

TEST_F(DesktopTest, MenusOpenFromTheKeyboardWhileScreenReadersReadThePlainCaptions)
{
    struct Case {
        QKeySequence keys;
        QMenu *menu;
    };
    for (const Case &c : {Case{QKeySequence(Qt::Key_F10), Form().File1}, Case{QKeySequence(Qt::ALT | Qt::Key_F), Form().File1},
                          Case{QKeySequence(Qt::ALT | Qt::Key_E), Form().Edit1},
                          Case{QKeySequence(Qt::ALT | Qt::Key_V), Form().View1},
                          Case{QKeySequence(Qt::ALT | Qt::Key_I), Form().ImageProcessing1}}) {
        Form().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
        QTest::keySequence(&Form(), c.keys);
        EXPECT_TRUE(QTest::qWaitFor([&] { return c.menu->isVisible(); }, 2000)) << c.keys.toString().toStdString();
        // Escape closes the menu, a second one leaves the menu bar.
        QTest::keyClick(c.menu, Qt::Key_Escape);
        QTest::keyClick(Form().MainMenu1, Qt::Key_Escape);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !c.menu->isVisible(); }, 2000));
    }

    // Alt+H is the help command itself, a title without a menu.
    bool helpShown = false;
    OnNextModalWindow([&](QWidget *modal) {
        helpShown = modal == HelpDlg;
        modal->close();
    });
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    QTest::keySequence(&Form(), QKeySequence(Qt::ALT | Qt::Key_H));
    EXPECT_TRUE(QTest::qWaitFor([&] { return helpShown; }, 2000));


    // Within the open menu, the arrow keys and Enter reach the commands.
    ShowPicture(*GreyRamp(4, 4));
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    QTest::keySequence(&Form(), QKeySequence(Qt::ALT | Qt::Key_I));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().ImageProcessing1->isVisible(); }, 2000));
    QTest::keyClick(Form().ImageProcessing1, Qt::Key_Down);
    QTest::keyClick(Form().ImageProcessing1, Qt::Key_Return);
    EXPECT_EQ(Shown().GetScanline(0)[0], 255 - GreyRamp(4, 4)->GetScanline(0)[0]);

    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(Form().MainMenu1);
    ASSERT_NE(bar, nullptr);
    QStringList names;
    for (int i = 0; i < bar->childCount(); ++i) names << bar->child(i)->text(QAccessible::Name);
    EXPECT_EQ(names, QStringList({"File", "Edit", "View", "Image Processing", "Help"}));
}

TEST_F(DesktopTest, ThePictureControlIsAGraphicWithANameAndItsSize)
{
    QAccessibleInterface *image = QAccessible::queryAccessibleInterface(Form().Image1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->role(), QAccessible::Graphic);
    EXPECT_EQ(image->text(QAccessible::Name), "Picture");
    EXPECT_EQ(image->text(QAccessible::Description), "No picture");
    ShowPicture(*GreyRamp(30, 20));
    EXPECT_EQ(image->text(QAccessible::Description), "30 x 20 pixels");
}

// The edit boxes, the scroll bars and the status bar's fields each have a
// name and a description a screen reader speaks, found through the window
// as a screen reader walks it; captions and control names stay as they are.
TEST_F(DesktopTest, ScreenReadersFindANameAndADescriptionForEveryFieldAndScrollBar)
{
    ShowPicture(*GreyRamp(1500, 1200));
    QApplication::processEvents();
    std::map<QObject *, TSpoken> found;
    int scrollBars = 0;
    for (const auto &[object, spoken] : SpokenTree(Form())) {
        if (object) found[object] = spoken;
        if (spoken.role == QAccessible::ScrollBar) {
            ++scrollBars;
            EXPECT_FALSE(spoken.name.isEmpty());
            EXPECT_FALSE(spoken.description.isEmpty()) << spoken.name.toStdString();
        }
    }
    EXPECT_EQ(scrollBars, 2);
    auto *scroll = Form().findChild<QScrollArea *>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(found[scroll->horizontalScrollBar()].name, "Horizontal scrolling");
    EXPECT_EQ(found[scroll->verticalScrollBar()].name, "Vertical scrolling");

    const struct {
        TEdit *edit;
        const char *objectName, *name, *text;
    } edits[] = {{Form().Edit2, "Edit2", "Colour captured at (2, 2)", "Edit2"},
                 {Form().Edit3, "Edit3", "Colour captured at (200, 200)", "Edit3"}};
    for (const auto &e : edits) {
        SCOPED_TRACE(e.objectName);
        const TSpoken &spoken = found[e.edit];
        EXPECT_EQ(spoken.role, QAccessible::EditableText);
        EXPECT_EQ(spoken.name, e.name);
        EXPECT_FALSE(spoken.description.isEmpty());
        EXPECT_EQ(spoken.value, e.text);
        EXPECT_EQ(e.edit->objectName(), e.objectName);
    }

    // A field is spoken by its name, then by what it shows once it shows
    // something.
    const QStringList descriptions = {"The column of the picture under the pointer", "The row of the picture under the pointer"};
    EXPECT_EQ(FieldsUnder(Form(), Form().StatusBar1), QStringList({"Pointer column", "Pointer row"}) + descriptions);
    QTest::mouseMove(Form().Image1, QPoint(30, 40));
    EXPECT_EQ(FieldsUnder(Form(), Form().StatusBar1), QStringList({"Pointer column: X=30", "Pointer row: Y=40"}) + descriptions);
    EXPECT_EQ(Form().StatusBar1->GetPanels()->GetItem(0)->GetText(), "X=30");
}

// A form description may give a status bar's names before its panels, or
// its descriptions last: each panel gets its own in every order.
TEST(StatusBarNames, EachPanelTakesItsNameAndDescriptionInWhateverOrderTheyCome)
{
    const auto spoken = [](TStatusBar &bar, int panel, QAccessible::Text kind) {
        return QAccessible::queryAccessibleInterface(bar.findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(panel)))->text(kind);
    };
    using Setting = std::function<void(TStatusBar &)>;
    const Setting widths = [](TStatusBar &bar) { bar.setPanelWidths("40,30"); };
    const Setting names = [](TStatusBar &bar) { bar.setPanelNames({"First", "Second"}); };
    const Setting descriptions = [](TStatusBar &bar) { bar.setPanelDescriptions({"The first"}); };
    for (const auto &order : {std::vector{widths, descriptions, names}, std::vector{names, widths, descriptions},
                              std::vector{names, descriptions, widths}}) {
        TStatusBar bar;
        for (const Setting &setting : order) setting(bar);
        bar.GetPanels()->GetItem(1)->SetText("Y=3");
        EXPECT_EQ(spoken(bar, 0, QAccessible::Name), "First");
        EXPECT_EQ(spoken(bar, 1, QAccessible::Name), "Second: Y=3");
        EXPECT_EQ(spoken(bar, 0, QAccessible::Description), "The first");
        EXPECT_EQ(spoken(bar, 1, QAccessible::Description), "");
    }

    // Without names, a panel is spoken by what it shows, as any label is.
    TStatusBar unnamed;
    unnamed.setPanelWidths("40");
    unnamed.GetPanels()->GetItem(0)->SetText("X=1");
    EXPECT_EQ(spoken(unnamed, 0, QAccessible::Name), "X=1");
}

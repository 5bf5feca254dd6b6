// Zoom box and pointer readout, driven through the real controls.
#include "support/main_window_fixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>

namespace {

void Choose(TComboBox *box, const QString &entry)
{
    const int index = box->findText(entry);
    ASSERT_GE(index, 0) << entry.toStdString();
    box->setCurrentIndex(index);
}

void Type(TComboBox *box, const QString &text)
{
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), text);
}

} // namespace

class ZoomTest : public MainWindowTest {
protected:
    QSize ShownSizeOf(int width, int height, const QString &entry)
    {
        ShowPicture(*MakeBitmap(width, height, pf8bit));
        // Only a change of the text runs the zoom.
        if (Form().ComboBox1->GetText() == entry) Choose(Form().ComboBox1, entry == "100%" ? "50%" : "100%");
        Choose(Form().ComboBox1, entry);
        return Form().Image1->size();
    }
};

TEST_F(ZoomTest, EachPresetGivesItsSize)
{
    EXPECT_EQ(ShownSizeOf(100, 100, "25%"), QSize(25, 25));
    EXPECT_EQ(ShownSizeOf(100, 100, "50%"), QSize(50, 50));
    EXPECT_EQ(ShownSizeOf(100, 100, "75%"), QSize(80, 80));
    EXPECT_EQ(ShownSizeOf(100, 100, "150%"), QSize(133, 133));
    EXPECT_EQ(ShownSizeOf(100, 100, "200%"), QSize(200, 200));
    EXPECT_EQ(ShownSizeOf(105, 105, "75%"), QSize(84, 84));
    EXPECT_EQ(ShownSizeOf(105, 105, "150%"), QSize(140, 140));
    EXPECT_EQ(ShownSizeOf(101, 40, "150%"), QSize(134, 53));
    EXPECT_EQ(ShownSizeOf(3, 8, "25%"), QSize(0, 2));
    EXPECT_TRUE(Form().Image1->GetStretch());
    EXPECT_FALSE(Form().Image1->GetAutoSize());
    // The control grows from its top-left corner.
    EXPECT_EQ(Form().Image1->mapTo(Form().centralWidget(), QPoint(0, 0)), QPoint(16, 32));
}

// A picture side near INT_MAX, enlarged or not, gives the widest side a
// widget can take rather than a wrapped or negative one.
TEST_F(ZoomTest, SidesNearIntMaxAreCutToTheWidestAWidgetTakes)
{
    constexpr int Widest = 16777215;
    EXPECT_EQ(ShownSizeOf(2147483643, 1, "200%"), QSize(Widest, 2));
    EXPECT_EQ(ShownSizeOf(2147483643, 1, "150%"), QSize(Widest, 1));
    EXPECT_EQ(ShownSizeOf(2147483643, 1, "25%"), QSize(Widest, 0));
    EXPECT_EQ(ShownSizeOf(33554430, 1, "50%"), QSize(Widest, 0));
    EXPECT_EQ(ShownSizeOf(33554428, 1, "50%"), QSize(Widest - 1, 0));
}

TEST_F(ZoomTest, HundredPercentAfterTwoHundredGivesTheOwnSizeStillStretched)
{
    EXPECT_EQ(ShownSizeOf(60, 30, "200%"), QSize(120, 60));
    Choose(Form().ComboBox1, "100%");
    EXPECT_EQ(Form().Image1->size(), QSize(60, 30));
    EXPECT_TRUE(Form().Image1->GetStretch());
}

TEST_F(ZoomTest, TypedTextOtherThanAPresetFallsBackToHundredPercent)
{
    ShowPicture(*MakeBitmap(40, 20, pf8bit));
    Choose(Form().ComboBox1, "50%");
    Type(Form().ComboBox1, "7");
    EXPECT_EQ(Form().ComboBox1->GetText(), "100%");
    EXPECT_EQ(Form().Image1->size(), QSize(40, 20));
    // Each key that leaves another text resets it, so typing never reaches
    // another entry; case matters too.
    Type(Form().ComboBox1, "50%");
    EXPECT_EQ(Form().ComboBox1->GetText(), "100%");
    Form().ComboBox1->SetText("200%");
    EXPECT_EQ(Form().Image1->size(), QSize(80, 40));
    Form().ComboBox1->SetText("200 %");
    EXPECT_EQ(Form().ComboBox1->GetText(), "100%");
    EXPECT_EQ(Form().ComboBox1->count(), 6);
}

namespace {

// Chosen from the open list with the keyboard, as a user does.
void ChooseFromList(TComboBox *box, const QString &entry)
{
    // The user's earlier steps have been handled, as the message loop does.
    QApplication::processEvents();
    box->showPopup();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box->view()->window()));
    const int index = box->findText(entry);
    ASSERT_GE(index, 0) << entry.toStdString();
    box->view()->setCurrentIndex(box->model()->index(index, 0));
    QTest::keyClick(box->view(), Qt::Key_Return);
    ASSERT_FALSE(box->view()->isVisible());
}

} // namespace

TEST_F(ZoomTest, ChoosingTheEntryTheBoxShowsAppliesItAgain)
{
    ShowPicture(*MakeBitmap(30, 20, pf8bit));
    ChooseFromList(Form().ComboBox1, "200%");
    EXPECT_EQ(Form().Image1->size(), QSize(60, 40));
    // Open shows the next picture at its own size; the box still reads 200%.
    ShowPicture(*MakeBitmap(25, 10, pf8bit));
    ASSERT_EQ(Form().ComboBox1->GetText(), "200%");
    ASSERT_EQ(Form().Image1->size(), QSize(25, 10));
    ChooseFromList(Form().ComboBox1, "200%");
    EXPECT_EQ(Form().Image1->size(), QSize(50, 20));
    EXPECT_FALSE(Form().Image1->GetAutoSize());
    // Another entry still applies once.
    ChooseFromList(Form().ComboBox1, "50%");
    EXPECT_EQ(Form().Image1->size(), QSize(12, 5));
    // Typed text that names no entry still falls back, and a chosen entry
    // then applies.
    Type(Form().ComboBox1, "9");
    EXPECT_EQ(Form().ComboBox1->GetText(), "100%");
    ChooseFromList(Form().ComboBox1, "100%");
    EXPECT_EQ(Form().Image1->size(), QSize(25, 10));
}

TEST_F(ZoomTest, WithoutAPictureTheControlShrinksToNothing)
{
    Choose(Form().ComboBox1, "200%");
    EXPECT_EQ(Form().Image1->size(), QSize(0, 0));
}

class ReadoutTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        auto picture = MakeBitmap(64, 64, pf24bit);
        FillColours(*picture, [](int x, int y) { return RGB(x * 4 % 256, y, 7); });
        picture->SetPixel(1, 0, clBlue);
        picture->SetPixel(2, 0, clWhite);
        picture->SetPixel(3, 0, clRed);
        ShowPicture(*picture);
    }

};

TEST_F(ReadoutTest, ShowsThePositionAndTheRedLevel)
{
    PointAt(0, 0);
    EXPECT_EQ(PanelText(0), "X=0");
    EXPECT_EQ(PanelText(1), "Y=0");
    EXPECT_EQ(Form().Label1->GetCaption(), "0");
    PointAt(1, 0);
    EXPECT_EQ(Form().Label1->GetCaption(), "0");
    PointAt(2, 0);
    EXPECT_EQ(Form().Label1->GetCaption(), "255");
    PointAt(3, 0);
    EXPECT_EQ(Form().Label1->GetCaption(), "255");
    PointAt(40, 13);
    EXPECT_EQ(PanelText(0), "X=40");
    EXPECT_EQ(PanelText(1), "Y=13");
    EXPECT_EQ(Form().Label1->GetCaption(), "160");
}

TEST_F(ReadoutTest, UsesThePointerPositionUnscaledByTheZoom)
{
    Choose(Form().ComboBox1, "50%");
    PointAt(10, 10);
    EXPECT_EQ(Form().Label1->GetCaption(), "40");
    Choose(Form().ComboBox1, "200%");
    // Beyond the picture the canvas reads black.
    PointAt(100, 100);
    EXPECT_EQ(PanelText(0), "X=100");
    EXPECT_EQ(Form().Label1->GetCaption(), "0");
}

TEST_F(ReadoutTest, ReadsBlackWithoutAPicture)
{
    Shown().SetSize(0, 0);
    Choose(Form().ComboBox1, "100%");
    Form().Image1->resize(50, 50);
    PointAt(5, 6);
    EXPECT_EQ(PanelText(1), "Y=6");
    EXPECT_EQ(Form().Label1->GetCaption(), "0");
}

TEST(PointerScale, PositionsAreInTheControlsLogicalPixels)
{
    // Run with QT_SCALE_FACTOR=2 too: positions must not double.
    TImage image;
    int seenX = -1, seenY = -1;
    image.SetOnMouseMove([&](TShiftState, int x, int y) {
        seenX = x;
        seenY = y;
    });
    // Frameless: the off-screen platform misplaces framed windows when scaled.
    image.setWindowFlags(Qt::FramelessWindowHint);
    image.resize(100, 100);
    image.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&image));
    QTest::mouseMove(&image, QPoint(30, 40));
    QApplication::processEvents();
    EXPECT_EQ(seenX, 30);
    EXPECT_EQ(seenY, 40);
    // A device pixel in the right half of a logical pixel is still that pixel.
    QMouseEvent move(QEvent::MouseMove, QPointF(12.5, 7.75), image.mapToGlobal(QPointF(12.5, 7.75)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&image, &move);
    EXPECT_EQ(seenX, 12);
    EXPECT_EQ(seenY, 7);
}

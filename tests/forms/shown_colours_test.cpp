// The picture control shows colours as the picture's profile means them,
// while the readout still reads the stored bytes. Off screen the screen
// is sRGB; ScreenProfileTest runs on an X display that publishes one.
#include "support/main_window_fixture.h"

#include "platform/controls/screen_profile.h"
#include "support/disk_files.h"
#include "support/exiftool.h"
#include "support/independent_writers.h"
#include "support/profiles.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

// Stored colours whose red and green differ, on a plain row pattern.
TColor Stored(int x, int y) { return RGB(200 - 3 * x, 40 + 5 * y, 90 + x); }

// Whether the shown colour is (r, g, b), within the rounding of an 8-bit transform.
testing::AssertionResult ShownAs(QRgb shown, int r, int g, int b)
{
    if (std::abs(qRed(shown) - r) <= 2 && std::abs(qGreen(shown) - g) <= 2 && std::abs(qBlue(shown) - b) <= 2)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "shown (" << qRed(shown) << ", " << qGreen(shown) << ", " << qBlue(shown)
                                       << "), expected about (" << r << ", " << g << ", " << b << ")";
}

} // namespace

class ShownColoursTest : public MainWindowTest {
protected:
    void Show(TPixelFormat format, const QByteArray &profile)
    {
        auto picture = MakeBitmap(24, 16, format);
        FillColours(*picture, Stored);
        picture->SetMetadata({.colourProfile = profile});
        ShowPicture(*picture);
    }

    QImage OnScreen() { return Form().Image1->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

TEST_F(ShownColoursTest, AProfileThatSwapsRedAndGreenIsShownWithTheColoursItMeans)
{
    for (const TPixelFormat format : {pf24bit, pf32bit, pf8bit}) {
        SCOPED_TRACE(testing::Message() << BitsPerPixel(format) << " bits");
        Show(format, SwappedRedGreenProfile());
        const QImage shown = OnScreen();
        ASSERT_EQ(shown.size(), QSize(24, 16));
        for (const QPoint at : {QPoint(0, 0), QPoint(5, 3), QPoint(23, 15)}) {
            // The colours of a palette picture are its palette's nearest ones.
            const TColor stored = Shown().GetPixel(at.x(), at.y());
            EXPECT_TRUE(ShownAs(shown.pixel(at), GetGValue(stored), GetRValue(stored), GetBValue(stored))) << at.x() << ", " << at.y();
            // The readout gives the stored red level, not the shown one.
            PointAt(at.x(), at.y());
            EXPECT_EQ(Form().Label1->GetCaption(), QString::number(GetRValue(stored)));
        }
    }
}

TEST_F(ShownColoursTest, AFileWhoseProfileSwapsRedAndGreenOpensShowingTheColoursItMeans)
{
    SKIP_WITHOUT_PILLOW();
    SKIP_WITHOUT_EXIFTOOL();
    QTemporaryDir folder;
    const QList<QPair<QString, QByteArray>> files = {{QStringLiteral("swap.icc"), SwappedRedGreenProfile()}};
    for (const char *extension : {"png", "jpg", "tif", "webp"}) {
        SCOPED_TRACE(extension);
        const QString ext = QLatin1String(extension);
        const QByteArray file = ExiftoolEdited(PillowWritten(24, 16, ext), ext, {QStringLiteral("-icc_profile<=swap.icc")}, files);
        ASSERT_FALSE(file.isEmpty()) << "Pillow and ExifTool could not write the file";
        const QString path = folder.filePath(QStringLiteral("swapped.") + ext);
        PutFile(path, file);
        OpenWithShortcut(path);
        ASSERT_EQ(Shown().GetWidth(), 24);
        const QImage shown = OnScreen();
        for (const QPoint at : {QPoint(0, 0), QPoint(7, 3), QPoint(23, 15)}) {
            const TColor stored = Shown().GetPixel(at.x(), at.y());
            EXPECT_TRUE(ShownAs(shown.pixel(at), GetGValue(stored), GetRValue(stored), GetBValue(stored))) << at.x() << ", " << at.y();
            PointAt(at.x(), at.y());
            EXPECT_EQ(Form().Label1->GetCaption(), QString::number(GetRValue(stored)));
        }
    }
}

TEST_F(ShownColoursTest, APictureWithoutAProfileOrWithOneRefusedIsShownAsStored)
{
    for (const QByteArray &profile : {QByteArray(), GarbageProfile(), LabProfile()}) {
        Show(pf24bit, profile);
        const QImage shown = OnScreen();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                const TColor stored = Stored(x, y);
                ASSERT_EQ(shown.pixel(x, y), qRgb(GetRValue(stored), GetGValue(stored), GetBValue(stored))) << x << ", " << y;
            }
    }
}

TEST_F(ShownColoursTest, ANewProfileRedrawsThePicture)
{
    Show(pf24bit, {});
    ASSERT_TRUE(ShownAs(OnScreen().pixel(0, 0), 200, 40, 90));
    TPictureMetadata metadata = Shown().GetMetadata();
    metadata.colourProfile = SwappedRedGreenProfile();
    Shown().SetMetadata(metadata);
    EXPECT_TRUE(ShownAs(OnScreen().pixel(0, 0), 40, 200, 90));
}

// On an X display: the desktop's profile for the screen, published on the
// root window as colour managers do, is what the view turns colours into.
class ScreenProfileTest : public ShownColoursTest {
protected:
    static bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

    void SetUp() override
    {
        if (!OnX11()) GTEST_SKIP() << "needs an X display: CTest's Screen.ColourProfile runs it under xvfb-run";
        ShownColoursTest::SetUp();
    }

    // Runs after a skip too.
    void TearDown() override
    {
        if (OnX11()) Publish({});
        ShownColoursTest::TearDown();
    }

    // Sets (or, empty, deletes) the root window's _ICC_PROFILE and waits
    // for the program to take it up.
    void Publish(const QByteArray &profile)
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t *connection = x11->connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 12, "_ICC_PROFILE"), nullptr);
        ASSERT_NE(atom, nullptr);
        const xcb_atom_t name = atom->atom;
        std::free(atom);
        QSignalSpy changed(&TScreenProfile::Instance(), &TScreenProfile::Changed);
        if (profile.isEmpty())
            xcb_delete_property(connection, root, name);
        else
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, name, XCB_ATOM_CARDINAL, 8,
                                static_cast<std::uint32_t>(profile.size()), profile.constData());
        xcb_flush(connection);
        if (profile != TScreenProfile::Instance().Colours().ScreenProfile()) changed.wait(5000);
    }
};

namespace {

// Counts the paint events a widget gets.
class TPaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

} // namespace

TEST_F(ScreenProfileTest, APublishedProfileIsReadAndFollowedWhenItChanges)
{
    // An sRGB picture on a screen whose red is sRGB's green.
    Show(pf24bit, {});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    QTest::qWait(50);
    TPaintCounter counter;
    Form().Image1->installEventFilter(&counter);
    Publish(SwappedRedGreenProfile());
    EXPECT_EQ(TScreenProfile::Instance().Colours().ScreenProfile(), SwappedRedGreenProfile());
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000)) << "the picture is repainted";
    Form().Image1->removeEventFilter(&counter);
    EXPECT_TRUE(ShownAs(OnScreen().pixel(0, 0), 40, 200, 90));
    // Both in the same space: nothing to turn.
    Show(pf24bit, SwappedRedGreenProfile());
    EXPECT_TRUE(ShownAs(OnScreen().pixel(0, 0), 200, 40, 90));
    Publish({});
    EXPECT_TRUE(TScreenProfile::Instance().Colours().ScreenProfile().isEmpty());
    EXPECT_TRUE(ShownAs(OnScreen().pixel(0, 0), 40, 200, 90));
}

TEST_F(ScreenProfileTest, AProfileTheColourLibraryRefusesLeavesTheScreenSrgb)
{
    Publish(GarbageProfile());
    EXPECT_TRUE(TScreenProfile::Instance().Colours().ScreenProfile().isEmpty());
    Show(pf24bit, {});
    EXPECT_EQ(OnScreen().pixel(0, 0), qRgb(200, 40, 90));
}

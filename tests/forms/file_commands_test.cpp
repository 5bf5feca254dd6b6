// File -> Open and Save through the real dialogs, and what failures show.
#include "support/main_window_fixture.h"

#include "platform/files/picture_files.h"
#include "support/disk_files.h"
#include "support/file_builders.h"
#include "support/tmpfs.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QPushButton>

#include <stdexcept>
#include <sys/stat.h>

using FileCommandsTest = MainWindowTest;

TEST_F(FileCommandsTest, OpenShowsThePictureAtItsOwnSizeWhateverTheZoom)
{
    WritePictureFile(PathIn("first.bmp"), *GreyRamp(30, 20));
    WritePictureFile(PathIn("second.png"), *GreyRamp(50, 10));
    OpenWithShortcut(PathIn("first.bmp"));
    EXPECT_EQ(Form().Image1->size(), QSize(30, 20));
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(30, 20)));

    Form().ComboBox1->setCurrentIndex(Form().ComboBox1->findText("200%"));
    EXPECT_EQ(Form().Image1->size(), QSize(60, 40));
    AnswerNextFileDialog(PathIn("second.png"));
    Form().Open1->trigger();
    EXPECT_EQ(Form().Image1->size(), QSize(50, 10));
    EXPECT_EQ(Form().ComboBox1->GetText(), "200%");
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(50, 10)));
}

TEST_F(FileCommandsTest, CancellingEitherDialogChangesNothing)
{
    ShowPicture(*GreyRamp(9, 8));
    Form().Edit2->SetText("kept");
    OpenWithShortcut(QString());
    SaveWithShortcut(QString());
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(9, 8)));
    EXPECT_EQ(Form().Image1->size(), QSize(9, 8));
    EXPECT_EQ(Form().Edit2->GetText(), "kept");
    EXPECT_EQ(Form().ComboBox1->GetText(), "100%");
    EXPECT_TRUE(QDir(PathIn("")).entryList(QDir::Files).isEmpty());
}

TEST_F(FileCommandsTest, ComplementedPictureSavesAndOpensAgain)
{
    WritePictureFile(PathIn("grey.bmp"), *GreyRamp(33, 17));
    OpenWithShortcut(PathIn("grey.bmp"));
    Form().Complement1->trigger();
    SaveWithShortcut(PathIn("negative.bmp"));

    TBitmap saved;
    ReadPictureFile(PathIn("negative.bmp"), saved);
    ASSERT_EQ(saved.GetPixelFormat(), pf8bit);
    const auto original = GreyRamp(33, 17);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(saved.GetScanline(y)[x], 255 - original->GetScanline(y)[x]) << x << ", " << y;

    OpenWithShortcut(PathIn("negative.bmp"));
    EXPECT_TRUE(SameBitmap(Shown(), saved));
}

TEST_F(FileCommandsTest, ADamagedFileShowsWhyAndKeepsTheOldPicture)
{
    ShowPicture(*GreyRamp(12, 12));
    Form().ComboBox1->setCurrentIndex(Form().ComboBox1->findText("200%"));
    PutFile(PathIn("damaged.png"), QByteArray("\x89PNG\r\n\x1a\n but nothing after the signature"));

    QString message;
    AnswerNextMessageBox(&message);
    OpenWithShortcut(PathIn("damaged.png"));
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(PathIn("damaged.png")))) << message.toStdString();
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(12, 12)));
    // The open had already asked for the picture's own size.
    EXPECT_EQ(Form().Image1->size(), QSize(12, 12));
    // The program goes on.
    Form().Complement1->trigger();
    EXPECT_EQ(Shown().GetScanline(0)[0], 255);
}

TEST_F(FileCommandsTest, APipeIsOpenedAndSavedWithoutWaitingForGood)
{
    ShowPicture(*GreyRamp(12, 12));
    const QString fifo = PathIn("pipe.bmp");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString message;
    AnswerNextMessageBox(&message);
    OpenWithShortcut(fifo);
    EXPECT_EQ(message, "Cannot open \"" + QDir::toNativeSeparators(fifo) + "\": it is a pipe, and nothing was written to it");
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(12, 12)));
    message.clear();
    // The dialog asks first whether to replace the existing name.
    OnNextModalWindowOf("QMessageBox", [&message](QWidget *box) {
        AnswerNextMessageBox(&message);
        static_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
    });
    SaveWithShortcut(fifo);
    EXPECT_EQ(message, "Cannot save \"" + QDir::toNativeSeparators(fifo) + "\": it is a pipe, and no program is reading from it");
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(12, 12)));
}

// A file that ends early shows what it holds, and says what is missing.
TEST_F(FileCommandsTest, ABitmapCutShortShowsItsRowsAndSaysHowManyAreMissing)
{
    ShowPicture(*GreyRamp(12, 12));
    WritePictureFile(PathIn("whole.bmp"), *GreyRamp(40, 30));
    QByteArray bytes = FileBytes(PathIn("whole.bmp"));
    // Rows are stored bottom first, 40 bytes each: 10 and a half of them go.
    bytes.chop(10 * 40 + 20);
    PutFile(PathIn("cut.bmp"), bytes);

    QString message;
    AnswerNextMessageBox(&message);
    OpenWithShortcut(PathIn("cut.bmp"));
    EXPECT_EQ(message, "The file \"" + QDir::toNativeSeparators(PathIn("cut.bmp")) +
                           "\" ends early: 11 of its 30 rows are missing. The rows it holds are shown.");
    EXPECT_EQ(Form().Image1->size(), QSize(40, 30));
    const auto whole = GreyRamp(40, 30);
    for (int y = 11; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(Shown().GetScanline(y)[x], whole->GetScanline(y)[x]) << x << ", " << y;
    for (int x = 0; x < 40; ++x) EXPECT_EQ(Shown().GetScanline(0)[x], 0) << x;
}

TEST_F(FileCommandsTest, AFailedSaveShowsWhyAndLeavesTheFolderAsItWas)
{
    QDir(PathIn("")).mkdir("small");
    TmpfsMount small(PathIn("small"));
    if (!small.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and permission to mount)";
    PutFile(PathIn("small/existing.bmp"), QByteArray("precious bytes"));
    // Larger than the whole file system.
    ShowPicture(*GreyRamp(300, 300));

    QString message;
    AnswerNextMessageBox(&message);
    SaveWithShortcut(PathIn("small/picture.bmp"));
    EXPECT_TRUE(message.startsWith("Cannot save \"" + QDir::toNativeSeparators(PathIn("small/picture.bmp")) + "\": "))
        << message.toStdString();
    EXPECT_TRUE(message.contains("space", Qt::CaseInsensitive)) << message.toStdString();

    EXPECT_EQ(FileBytes(PathIn("small/existing.bmp")), QByteArray("precious bytes"));
    EXPECT_EQ(QDir(PathIn("small")).entryList(QDir::Files | QDir::Hidden), QStringList({"existing.bmp"}));
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(300, 300)));
}

TEST_F(FileCommandsTest, ANameOfAFormatThatCannotBeWrittenShowsWhatCanAndWritesNothing)
{
    ShowPicture(*GreyRamp(30, 20));
    QString message;
    AnswerNextMessageBox(&message);
    SaveWithShortcut(PathIn("picture.gif"));
    EXPECT_TRUE(message.startsWith("Cannot save \"" + QDir::toNativeSeparators(PathIn("picture.gif")) + "\": this program cannot write GIF pictures"))
        << message.toStdString();
    EXPECT_TRUE(message.contains("BMP, PNG, JPEG")) << message.toStdString();
    EXPECT_FALSE(QFile::exists(PathIn("picture.gif")));
    EXPECT_TRUE(SameBitmap(Shown(), *GreyRamp(30, 20)));
}

TEST_F(FileCommandsTest, SavingWithoutAPictureShowsAnErrorAndWritesNothing)
{
    QString message;
    AnswerNextMessageBox(&message);
    SaveWithShortcut(PathIn("nothing.bmp"));
    EXPECT_FALSE(message.isEmpty());
    EXPECT_FALSE(QFile::exists(PathIn("nothing.bmp")));
}

TEST_F(FileCommandsTest, EveryKindOfErrorInAnEventMethodIsShownAndTheProgramGoesOn)
{
    ShowPicture(*GreyRamp(4, 4));
    auto *failing = new QAction(QStringLiteral("Fail"), &Form());
    Form().ImageProcessing1->addAction(failing);
    int kind = 0;
    ConnectNotify(failing, [&kind](TObject *) {
        switch (kind) {
        case 0: throw Exception(QStringLiteral("platform error"));
        case 1: throw std::runtime_error("standard error");
        case 2: throw std::bad_alloc();
        default: throw 42;
        }
    });
    // Shown alone, each reason starts its sentence.
    const char *expected[] = {"Platform error", "Standard error", "memory", "unknown"};
    for (kind = 0; kind < 4; ++kind) {
        QString message;
        AnswerNextMessageBox(&message);
        failing->trigger();
        EXPECT_TRUE(message.contains(expected[kind])) << message.toStdString();
        Form().Complement1->trigger();
        EXPECT_EQ(Shown().GetScanline(0)[0], kind % 2 == 0 ? 255 : 0);
    }
}

namespace {

// A 32-bit BMP of the common kind: no alpha mask, every 4th byte 0.
QByteArray UnusedFourthByteBmp(int width, int height)
{
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < width * height; ++i)
        for (int shift : {0, 8, 16, 24}) pixels.push_back(static_cast<std::uint8_t>(shift < 24 ? ((i * 37) & 0xFFFFFF) >> shift : 0));
    const auto file = BmpFile({.width = width, .height = height, .bits = 32, .palette = {}, .pixels = pixels});
    return QByteArray(reinterpret_cast<const char *>(file.data()), static_cast<qsizetype>(file.size()));
}

} // namespace

// Whether the 4th byte is alpha belongs to the picture: one opened without
// alpha is saved opaque after any operation, as the screen shows it; one
// with alpha keeps it.
TEST_F(FileCommandsTest, APictureWithoutAlphaIsSavedOpaqueAfterEveryOperation)
{
    PutFile(PathIn("plain32.bmp"), UnusedFourthByteBmp(20, 6));
    OpenWithShortcut(PathIn("plain32.bmp"));
    ASSERT_EQ(Shown().GetPixelFormat(), pf32bit);
    Form().Complement1->trigger();
    Form().EdgeDetection1->trigger();
    SaveWithShortcut(PathIn("after.png"));
    SaveWithShortcut(PathIn("after.bmp"));
    for (const char *name : {"after.png", "after.bmp"}) {
        const QImage saved(PathIn(name));
        ASSERT_FALSE(saved.isNull()) << name;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 20; ++x) {
                ASSERT_EQ(qAlpha(saved.pixel(x, y)), 255) << name << " at " << x << ", " << y;
                ASSERT_EQ(saved.pixel(x, y) & 0xFFFFFF, static_cast<QRgb>(Shown().GetPixel(x, y) & 0xFF) << 16
                                                            | (Shown().GetPixel(x, y) & 0xFF00)
                                                            | (Shown().GetPixel(x, y) >> 16 & 0xFF))
                    << name << " at " << x << ", " << y;
            }
    }

    auto withAlpha = MakeBitmap(20, 6, pf32bit);
    FillRandomBytes(*withAlpha, 11);
    WritePictureFile(PathIn("alpha.bmp"), *withAlpha);
    OpenWithShortcut(PathIn("alpha.bmp"));
    SaveWithShortcut(PathIn("alpha.png"));
    const QImage saved(PathIn("alpha.png"));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(qAlpha(saved.pixel(x, y)), withAlpha->GetScanline(y)[4 * x + 3]) << x << ", " << y;
}

// Typing /proc/ into either dialog shows the folder without reading its
// files (/proc/kmsg would wait for good), and the program goes on answering.
TEST_F(FileCommandsTest, BrowsingProcInEitherDialogLeavesTheProgramAnswering)
{
    if (!QFileInfo::exists(QStringLiteral("/proc/kmsg"))) GTEST_SKIP() << "no /proc/kmsg here";
    for (QAction *command : {Form().Open1, Form().Save1}) {
        QStringList listed;
        OnNextModalWindowOf("QFileDialog", [&listed](QWidget *modal) {
            auto *dialog = static_cast<QFileDialog *>(modal);
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            QTest::keyClicks(name, QStringLiteral("/proc/"));
            // The folder shown, as the dialog's own navigation shows it, with
            // every file listed where a filter offers that.
            dialog->setDirectory(QStringLiteral("/proc"));
            if (dialog->nameFilters().contains(QStringLiteral("All files (*)"))) dialog->selectNameFilter(QStringLiteral("All files (*)"));
            // Long enough for the view to ask for every shown file's icon and type.
            QTest::qWait(1500);
            // What the view asks of every file it shows: its icon and its type.
            auto *model = dialog->findChild<QFileSystemModel *>();
            ASSERT_NE(model, nullptr);
            const QModelIndex kmsg = model->index(QStringLiteral("/proc/kmsg"));
            model->data(kmsg, Qt::DecorationRole);
            listed << kmsg.data().toString() << model->index(kmsg.row(), 2, kmsg.parent()).data().toString();
            dialog->reject();
        });
        command->trigger();
        if (command == Form().Open1) {
            EXPECT_TRUE(listed.contains(QStringLiteral("kmsg"))) << listed.join(QLatin1Char(' ')).left(300).toStdString();
        }
    }
}

// A save that fails in /proc tells why, and the next dialog does not open there.
TEST_F(FileCommandsTest, AFailedSaveInProcSaysWhyAndTheNextDialogOpensElsewhere)
{
    if (!QFileInfo(QStringLiteral("/proc")).isDir()) GTEST_SKIP() << "no /proc here";
    ShowPicture(*GreyRamp(9, 8));
    QString message;
    AnswerNextMessageBox(&message);
    SaveWithShortcut(QStringLiteral("/proc/picture.bmp"));
    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot save \"/proc/picture.bmp\": "))) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("space"))) << message.toStdString();
    QString folder;
    OnNextModalWindowOf("QFileDialog", [&folder](QWidget *modal) {
        folder = static_cast<QFileDialog *>(modal)->directory().absolutePath();
        static_cast<QFileDialog *>(modal)->reject();
    });
    Form().Save1->trigger();
    EXPECT_NE(folder, QStringLiteral("/proc"));
}

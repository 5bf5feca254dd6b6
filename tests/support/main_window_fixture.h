// A fresh main window and help dialog for each test, shown off screen.
#pragma once

#include "forms/Unit1.h"
#include "forms/Unit2.h"
#include "support/dialogs.h"
#include "support/pictures.h"
#include "support/printers.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        form_ = std::make_unique<TForm1>(nullptr);
        help_ = std::make_unique<THelpDlg>(nullptr);
        Form1 = form_.get();
        HelpDlg = help_.get();
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    }

    void TearDown() override
    {
        EXPECT_EQ(ForgetPendingAnswers(), 0) << "a dialog the test answered never opened";
        HelpDlg = nullptr;
        Form1 = nullptr;
        help_.reset();
        form_.reset();
    }

    TForm1 &Form() { return *form_; }
    TBitmap &Shown() { return *form_->Image1->GetPicture()->GetBitmap(); }

    // Puts a picture in the image control as Open does: at its own size.
    void ShowPicture(const TBitmap &picture)
    {
        form_->Image1->SetAutoSize(true);
        Shown().Assign(&picture);
    }

    // Opens a file through File -> Open with Ctrl+O and the real dialog.
    void OpenWithShortcut(const QString &path)
    {
        AnswerNextFileDialog(path);
        PressInActiveWindow(Qt::Key_O, Qt::ControlModifier);
    }

    // Saves through File -> Save with Ctrl+S and the real dialog.
    void SaveWithShortcut(const QString &path)
    {
        AnswerNextFileDialog(path);
        PressInActiveWindow(Qt::Key_S, Qt::ControlModifier);
    }

    // Shortcuts act only in the active window, as the user's click makes it.
    void PressInActiveWindow(Qt::Key key, Qt::KeyboardModifiers modifiers)
    {
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        QTest::keyClick(form_.get(), key, modifiers);
    }

    // A pointer move as the window system delivers it to the image control.
    void PointAt(int x, int y)
    {
        const QPointF local(x, y);
        QMouseEvent move(QEvent::MouseMove, local, form_->Image1->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(form_->Image1, &move);
    }

    QString PanelText(int index) { return form_->StatusBar1->GetPanels()->GetItem(index)->GetText(); }

    QString PathIn(const QString &name) const { return folder_.filePath(name); }

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<THelpDlg> help_;
    QTemporaryDir folder_;
};

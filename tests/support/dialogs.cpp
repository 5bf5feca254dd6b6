// Answering the program's real dialogs from a test, while they are up.
#include "dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

void OnNextModalWindow(std::function<void(QWidget *)> answer) { OnNextModalWindowOf("QWidget", std::move(answer)); }

namespace {
// Answers waiting for their window; each is the timer that polls for it.
QList<QTimer *> pendingAnswers;
} // namespace

int ForgetPendingAnswers()
{
    const int pending = static_cast<int>(pendingAnswers.size());
    qDeleteAll(pendingAnswers);
    pendingAnswers.clear();
    return pending;
}

void OnNextModalWindowOf(const char *className, std::function<void(QWidget *)> answer)
{
    // Polls from the modal window's own event loop; gives up after 10 s so
    // that a dialog that never comes fails the test instead of hanging it.
    auto *timer = new QTimer(qApp);
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, waited, className, answer = std::move(answer)] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal->inherits(className)) {
            timer->stop();
            pendingAnswers.removeOne(timer);
            timer->deleteLater();
            answer(modal);
            return;
        }
        if ((*waited += 10) > 10000) {
            timer->stop();
            pendingAnswers.removeOne(timer);
            timer->deleteLater();
            ADD_FAILURE() << "no modal window opened";
        }
    });
    pendingAnswers << timer;
    timer->start(10);
}

void AnswerNextFileDialog(const QString &path)
{
    OnNextModalWindowOf("QFileDialog", [path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            ADD_FAILURE() << "expected a file dialog, got " << modal->metaObject()->className();
            modal->close();
            return;
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        auto *nameBox = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!nameBox) {
            ADD_FAILURE() << "the file dialog has no file-name box";
            dialog->reject();
            return;
        }
        // As a user does: go to the folder, then type the file's name.
        const QFileInfo target(path);
        dialog->setDirectory(target.absolutePath());
        nameBox->setFocus();
        nameBox->selectAll();
        QTest::keyClicks(nameBox, target.fileName());
        // The folder loads in the background and may select the dialog's
        // previous file when done: Enter only once the typed name is chosen.
        const QString chosen = target.absoluteFilePath();
        if (!QTest::qWaitFor([&] { return dialog->selectedFiles() == QStringList(chosen); }, 5000))
            ADD_FAILURE() << "the file dialog kept " << dialog->selectedFiles().join(", ").toStdString();
        // Enter must reach the dialog, not the list of completions.
        if (QCompleter *completer = nameBox->completer()) completer->popup()->hide();
        QTest::keyClick(nameBox, Qt::Key_Return);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the file dialog did not take " << path.toStdString();
            dialog->reject();
        }
    });
}

void AnswerNextMessageBox(QString *text)
{
    OnNextModalWindowOf("QMessageBox", [text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            ADD_FAILURE() << "expected a message box, got " << modal->metaObject()->className();
            modal->close();
            return;
        }
        if (text) *text = box->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
}

void AnswerReplaceYes()
{
    OnNextModalWindowOf("QMessageBox", [](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QAbstractButton *yes = box ? box->button(QMessageBox::Yes) : nullptr;
        if (!yes) {
            ADD_FAILURE() << "expected the question whether to replace the file";
            modal->close();
            return;
        }
        yes->click();
    });
}

Qt::CursorShape CursorNow() { return QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor; }

MessageBoxWatch::MessageBoxWatch()
{
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts_ << box->text();
            cursors_ << CursorNow();
            box->close();
        }
    });
    timer_.start(20);
}

QProgressDialog *ShownProgressDialog()
{
    // Not modal to Qt: found among the windows.
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QProgressDialog *>(window); dialog && dialog->isVisible()) return dialog;
    return nullptr;
}

WhenProgressShows::WhenProgressShows(std::function<void(QProgressDialog *)> steps) : steps_(std::move(steps))
{
    QObject::connect(&poll_, &QTimer::timeout, [this] {
        if (QProgressDialog *dialog = ShownProgressDialog()) {
            poll_.stop();
            steps_(dialog);
        } else if ((waited_ += 10) > 10000) {
            poll_.stop();
            ADD_FAILURE() << "no progress dialog came up";
        }
    });
    poll_.start(10);
}

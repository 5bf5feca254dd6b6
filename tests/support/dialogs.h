// Answering the program's real dialogs from a test, while they are up.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class QProgressDialog;
class QWidget;

// The next file dialog that opens gets `path` typed into its file-name box
// and Enter pressed; with an empty path it is cancelled instead.
void AnswerNextFileDialog(const QString &path);

// The next message box that opens has its text stored in *text, then is
// closed with its default button.
void AnswerNextMessageBox(QString *text);

// Drops answers whose window never came; gives how many there were.
int ForgetPendingAnswers();

// Runs `answer` on the next modal window that opens, from inside its loop;
// the second form waits for a window of the named class only.
void OnNextModalWindow(std::function<void(QWidget *)> answer);
void OnNextModalWindowOf(const char *className, std::function<void(QWidget *)> answer);

// The save dialog asks whether to replace an existing file: the next such
// question is answered yes.
void AnswerReplaceYes();

// The cursor the whole application shows now.
Qt::CursorShape CursorNow();

// Whatever message box opens is recorded and closed, so that a box that
// should not come fails the test instead of hanging it.
class MessageBoxWatch {
public:
    MessageBoxWatch();
    const QStringList &Texts() const { return texts_; }
    // The cursor each box came under.
    const QList<Qt::CursorShape> &Cursors() const { return cursors_; }

private:
    QTimer timer_;
    QStringList texts_;
    QList<Qt::CursorShape> cursors_;
};

// The progress dialog of long work, while it is up.
QProgressDialog *ShownProgressDialog();

// Runs steps once, from inside the window's wait, when the progress dialog
// has come up; polls for at most 10 s.
class WhenProgressShows {
public:
    explicit WhenProgressShows(std::function<void(QProgressDialog *)> steps);

private:
    std::function<void(QProgressDialog *)> steps_;
    QTimer poll_;
    int waited_ = 0;
};

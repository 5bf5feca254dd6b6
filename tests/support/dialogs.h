// Answering the program's real dialogs from a test, while they are up.
#pragma once

#include <QString>

class QWidget;

#include <functional>

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

// TApplication: the application object, its forms and its message loop.
#include "platform/controls/application.h"

#include "platform/controls/held_input.h"
#include "platform/controls/stop_signals.h"
#include "platform/controls/waiting.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <new>

namespace {
// Qt needs an argument vector; it is given none of the program's own, so
// that a file name is never taken for one of Qt's options.
int argumentCount = 1;
char programName[] = "picture-workbench";
char *arguments[] = {programName, nullptr};

TApplication theApplication;
} // namespace

TApplication *const Application = &theApplication;

TApplication::TApplication() = default;

TApplication::~TApplication()
{
    // Qt cannot be torn down this late, after main has returned.
    (void)qt_.release();
}

void TApplication::Initialize()
{
    if (qt_ || QApplication::instance()) return;
    qt_ = std::make_unique<QApplication>(argumentCount, arguments);
    QApplication::setApplicationName(QStringLiteral("Picture Workbench"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/picture-workbench.png")));
    // Long work (opening, saving, operations) runs while the window waits.
    SetWorkRunner(WaitForWork);
}

void TApplication::Adopt(std::unique_ptr<QWidget> window, TForm *form)
{
    forms_.push_back(std::move(window));
    if (!mainForm_) mainForm_ = form;
}

void TApplication::Run()
{
    if (forms_.empty()) return;
    QWidget *mainWindow = forms_.front().get();
    // A kill, a logout or Ctrl+C closes the window as its close button does.
    TStopSignals stop(mainWindow);
    mainWindow->show();
    QApplication::exec();
}

AnsiString TApplication::GetTitle() const { return QApplication::applicationName(); }

void TApplication::ShowException(const Exception *error)
{
    // Reasons are written as the ends of sentences wherever they are raised;
    // shown alone, a reason starts its own sentence.
    QString text = error ? error->Message() : QString();
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    QMessageBox box(QMessageBox::Critical, GetTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

Exception TApplication::CurrentException(const QString &unknown)
{
    QString text;
    try {
        throw;
    } catch (const Exception &error) {
        text = error.Message();
    } catch (const std::bad_alloc &) {
        text = QStringLiteral("Not enough memory to complete the command");
    } catch (const std::exception &error) {
        text = QString::fromLocal8Bit(error.what());
    } catch (...) {
    }
    return Exception(text.isEmpty() ? unknown : text);
}

void TApplication::HandleEvent(const std::function<void()> &method) noexcept
{
    // Input held while its work ran waits until the method and its message are done.
    TEventMethodScope scope;
    try {
        try {
            method();
        } catch (const ECancelled &) {
            // The user stopped the command: there is nothing to tell.
            return;
        } catch (...) {
            throw CurrentException(QStringLiteral("The command failed with an unknown error"));
        }
    } catch (const Exception &error) {
        try {
            ShowException(&error);
        } catch (...) {
            // Nothing more can be shown; the program goes on regardless.
        }
    }
}

void TApplication::HandleEventOnceRunning(const std::function<void()> &method)
{
    QTimer::singleShot(0, QApplication::instance(), [this, method] { HandleEvent(method); });
}

void TApplication::Shutdown()
{
    // The main form goes last: the others may refer to it while closing.
    while (!forms_.empty()) forms_.pop_back();
    mainForm_ = nullptr;
    SetWorkRunner({});
    qt_.reset();
}

// TApplication: the application object, its forms and its message loop.
#pragma once

#include "platform/base/strings_and_errors.h"

#include <QObject>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QApplication;
class TForm;

using TObject = QObject;
using TComponent = QObject;

class TApplication {
public:
    TApplication();
    ~TApplication();

    // Sets up the windowing system; reads no command-line option.
    void Initialize();

    // Creates a form of class Form into *reference; the first one created
    // becomes the main form. The application owns every form it creates.
    template <class Form>
    void CreateForm(Form **reference)
    {
        auto form = std::make_unique<Form>(nullptr);
        *reference = form.get();
        TForm *asForm = form.get();
        Adopt(std::unique_ptr<QWidget>(std::move(form)), asForm);
    }

    // Shows the main form and handles events until it closes.
    void Run();

    AnsiString GetTitle() const;

    // Shows an error's message to the user in a message box.
    void ShowException(const Exception *error);

    // The exception being handled, whatever its type, as an Exception with
    // a text: its own message, a standard exception's what(), or `unknown`
    // for anything else (an empty text becomes `unknown` too). Call only
    // inside a catch block.
    static Exception CurrentException(const QString &unknown);

    // Runs one event method. Every error it raises is shown here and the
    // program goes on: no exception ever reaches Qt's own frames.
    void HandleEvent(const std::function<void()> &method) noexcept;

    // Runs one event method as HandleEvent does, once the message loop runs
    // and the main form is up: for what the program tells at start.
    void HandleEventOnceRunning(const std::function<void()> &method);

    // Releases every form and then the windowing system; called once the
    // message loop has returned, before the program ends.
    void Shutdown();

private:
    // Owned as windows: what the application does with a form, show it and
    // release it, is the window's.
    void Adopt(std::unique_ptr<QWidget> window, TForm *form);

    std::unique_ptr<QApplication> qt_;
    std::vector<std::unique_ptr<QWidget>> forms_;
    TForm *mainForm_ = nullptr;
};

extern TApplication *const Application;

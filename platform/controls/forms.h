// TForm: a window built from its form description, with its events wired
// to the methods that the form class publishes.
#pragma once

#include "platform/controls/application.h"
#include "platform/controls/controls.h"

#include <QMainWindow>
#include <QString>

#include <map>
#include <variant>

class QEventLoop;

// The modal result of a form; mrOk is what an OK button gives.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

class TForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm(TComponent *Owner);
    ~TForm() override;

    AnsiString GetCaption() const { return windowTitle(); }
    void SetCaption(const AnsiString &caption) { setWindowTitle(caption); }

    // Closes the form; closing the main form ends the message loop.
    void Close();
    // Redraws the form and every control on it at once.
    void Repaint();
    // Shows the form centred on the screen and blocks every other window
    // until it closes; gives the modal result it closed with.
    TModalResult ShowModal();
    TModalResult GetModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult result);

    // Files dropped on the form from outside: the first local one goes to
    // handler, once the drop is over. Without a handler nothing is taken.
    using TDropFileEvent = std::function<void(const AnsiString &fileName)>;
    void SetOnDropFile(TDropFileEvent handler);

protected:
    // Connects each event that a component of the description names (the
    // dynamic properties OnClick, OnChange and OnMouseMove) to the method
    // of that name. A name the form does not publish is an error.
    using FindHandler = std::function<bool(const QString &name, QObject *source)>;
    void WireEvents(const FindHandler &bind);
    // Applies what the description says beyond Qt's own properties: the
    // client size (ClientWidth, ClientHeight), the font's pixel height
    // (FontPixelHeight), a fixed dialog border (BorderStyle "Dialog"), and
    // menu items captioned "-" as separators. The menu bar opens from the
    // keyboard: F10 opens its first menu, Alt with a title's letter that
    // title's menu, while the captions stay as described.
    void ApplyDescription();

    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void OpenMenusFromKeyboard();

    TModalResult modalResult_ = mrNone;
    TDropFileEvent onDropFile_;
    QEventLoop *modalLoop_ = nullptr;
};

// The methods a form class publishes for its description to name.
template <class Form>
using TPublishedMethod = std::variant<void (Form::*)(TObject *),
                                      void (Form::*)(TObject *, TShiftState, int, int)>;
template <class Form>
using TPublishedMethods = std::map<QString, TPublishedMethod<Form>>;

// A form class whose layout comes from Description (made by uic from the
// form's .ui file) and whose events go to the methods in Form::Published.
template <class Form, class Description>
class TFormWith : public TForm, public Description {
protected:
    explicit TFormWith(TComponent *Owner) : TForm(Owner)
    {
        Description::setupUi(this);
        ApplyDescription();
        WireEvents([this](const QString &name, QObject *source) { return Bind(name, source); });
    }

private:
    // Bound while the form is still being made, when it is not yet a Form:
    // it is taken as one only when an event comes.
    bool Bind(const QString &name, QObject *source)
    {
        const auto found = Form::Published.find(name);
        if (found == Form::Published.end()) return false;
        std::visit([&](auto method) { Connect(this, method, source); }, found->second);
        return true;
    }

    static void Connect(TFormWith *self, void (Form::*method)(TObject *), QObject *source)
    {
        ConnectNotify(source, [self, method](TObject *sender) { (static_cast<Form *>(self)->*method)(sender); });
    }

    static void Connect(TFormWith *self, void (Form::*method)(TObject *, TShiftState, int, int), QObject *source)
    {
        ConnectMouseMove(source, [self, method](TObject *sender, TShiftState shift, int x, int y) {
            (static_cast<Form *>(self)->*method)(sender, shift, x, y);
        });
    }
};

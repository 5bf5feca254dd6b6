// TForm: a window built from its form description.
#include "platform/controls/forms.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QKeyEvent>
#include <QScreen>

namespace {
const char *const EventProperties[] = {"OnClick", "OnChange", "OnMouseMove"};
}

TForm::TForm(TComponent *Owner) : QMainWindow(qobject_cast<QWidget *>(Owner)) {}

TForm::~TForm() = default;

void TForm::WireEvents(const FindHandler &bind)
{
    QList<QObject *> sources = findChildren<QObject *>();
    for (QObject *source : sources)
        for (const char *event : EventProperties) {
            const QVariant name = source->property(event);
            if (!name.isValid()) continue;
            if (!bind(name.toString(), source))
                throw Exception(QStringLiteral("%1 names the event method %2, which %3 does not have")
                                    .arg(source->objectName(), name.toString(), objectName()));
        }
}

void TForm::ApplyDescription()
{
    const QVariant pixelHeight = property("FontPixelHeight");
    if (pixelHeight.isValid()) {
        QFont described = font();
        described.setStyleHint(QFont::SansSerif);
        described.setPixelSize(pixelHeight.toInt());
        setFont(described);
    }
    for (QAction *action : findChildren<QAction *>())
        if (action->text() == QLatin1String("-")) {
            action->setSeparator(true);
            action->setText(QString());
        }
    for (TLabel *label : findChildren<TLabel *>()) label->FitCaption();
    if (property("BorderStyle").toString() == QLatin1String("Dialog")) {
        // Fixed size, a title and a close button: no minimise or maximise.
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                       | Qt::MSWindowsFixedSizeDialogHint);
    }
    const QVariant clientWidth = property("ClientWidth");
    const QVariant clientHeight = property("ClientHeight");
    if (clientWidth.isValid() && clientHeight.isValid()) {
        // The client area lies below the menu bar, as on the desktop the
        // form was laid out for.
        const int menuHeight = menuWidget() ? menuWidget()->sizeHint().height() : 0;
        resize(clientWidth.toInt(), clientHeight.toInt() + menuHeight);
        if (property("BorderStyle").toString() == QLatin1String("Dialog")) setFixedSize(size());
    }
}

void TForm::Close() { close(); }

void TForm::Repaint()
{
    // Qt redraws only the window's own area: controls that paint opaquely,
    // such as the image control, keep what they drew unless marked as well.
    for (QWidget *control : findChildren<QWidget *>()) control->update();
    repaint();
}

void TForm::SetModalResult(TModalResult result)
{
    modalResult_ = result;
    if (result != mrNone && modalLoop_) close();
}

TModalResult TForm::ShowModal()
{
    if (modalLoop_) return mrNone;
    modalResult_ = mrNone;
    setWindowModality(Qt::ApplicationModal);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    // Buttons that carry a modal result close the form with it.
    QList<QMetaObject::Connection> connections;
    for (TButton *button : findChildren<TButton *>())
        if (button->GetModalResult() != mrNone)
            connections << connect(button, &QPushButton::clicked, this,
                                   [this, button] { SetModalResult(static_cast<TModalResult>(button->GetModalResult())); });
    QEventLoop loop;
    modalLoop_ = &loop;
    show();
    raise();
    activateWindow();
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
    for (const auto &connection : connections) disconnect(connection);
    hide();
    return modalResult_;
}

void TForm::keyPressEvent(QKeyEvent *event)
{
    // Enter presses the default button, as it does in a dialog.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (TButton *button : findChildren<TButton *>())
            if (button->isDefault() && button->isEnabled() && button->isVisible()) {
                button->click();
                return;
            }
    }
    QMainWindow::keyPressEvent(event);
}

void TForm::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (modalLoop_) modalLoop_->quit();
}

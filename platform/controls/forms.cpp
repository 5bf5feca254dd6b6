// TForm: a window built from its form description.
#include "platform/controls/forms.h"

#include "platform/controls/held_input.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFont>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>

namespace {
const char *const EventProperties[] = {"OnClick", "OnChange", "OnMouseMove"};

// The first local file a drag carries, or an empty string.
QString DraggedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls()) return {};
    for (const QUrl &url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}
} // namespace

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
    OpenMenusFromKeyboard();
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

void TForm::OpenMenusFromKeyboard()
{
    auto *bar = qobject_cast<QMenuBar *>(menuWidget());
    if (!bar || bar->actions().isEmpty()) return;
    // A title opens its menu; a title without a menu is a command of its own.
    const auto open = [bar](QAction *title) {
        if (title->menu())
            bar->setActiveAction(title);
        else
            title->trigger();
    };
    // Shortcuts, not "&" in the captions: a caption is read as it is, by
    // the program and by screen readers alike.
    QList<QAction *> titles = bar->actions();
    QAction *first = titles.constFirst();
    connect(new QShortcut(QKeySequence(Qt::Key_F10), this), &QShortcut::activated, this, [open, first] { open(first); });
    // Each title takes the first letter of its caption that no title before
    // it took.
    QString taken;
    for (QAction *title : titles) {
        if (title->isSeparator()) continue;
        for (const QChar letter : title->text().toUpper())
            if (letter.isLetter() && !taken.contains(letter)) {
                taken += letter;
                auto *shortcut = new QShortcut(QKeySequence(QStringLiteral("Alt+") + letter), this);
                connect(shortcut, &QShortcut::activated, this, [open, title] { open(title); });
                break;
            }
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

void TForm::SetOnDropFile(TDropFileEvent handler)
{
    onDropFile_ = std::move(handler);
    setAcceptDrops(static_cast<bool>(onDropFile_));
}

void TForm::dragEnterEvent(QDragEnterEvent *event)
{
    if (onDropFile_ && !DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm::dragMoveEvent(QDragMoveEvent *event)
{
    if (onDropFile_ && !DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm::dropEvent(QDropEvent *event)
{
    const QString fileName = DraggedFile(event->mimeData());
    if (!onDropFile_ || fileName.isEmpty()) return;
    event->acceptProposedAction();
    // The file opens after the drop has ended, so that the program that
    // dragged it is not kept waiting by a message box, and after any work
    // that runs now.
    RunWhenIdle(this, [this, fileName] { onDropFile_(fileName); });
}

void TForm::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (modalLoop_) modalLoop_->quit();
}

// The controls a form description may hold, and the event plumbing.
#include "platform/controls/controls.h"

#include <QChildEvent>
#include <QCompleter>
#include <QEvent>
#include <QScrollBar>
#include <QTimer>

void ConnectNotify(QObject *source, TNotifyEvent handler)
{
    auto run = [source, handler = std::move(handler)] {
        Application->HandleEvent([&] { handler(source); });
    };
    if (auto *action = qobject_cast<QAction *>(source))
        QObject::connect(action, &QAction::triggered, action, run);
    else if (auto *button = qobject_cast<QAbstractButton *>(source))
        QObject::connect(button, &QAbstractButton::clicked, button, run);
    else if (auto *combo = qobject_cast<TComboBox *>(source)) {
        QObject::connect(combo, &QComboBox::editTextChanged, combo, run);
        QObject::connect(combo, &TComboBox::Rechosen, combo, run);
    } else
        throw Exception(QStringLiteral("%1 has no click or change event").arg(source->objectName()));
}

TButton::TButton(QWidget *parent) : TControlOf<QPushButton>(parent) {}

TEdit::TEdit(QWidget *parent) : TControlOf<QLineEdit>(parent) {}

TLabel::TLabel(QWidget *parent) : TControlOf<QLabel>(parent) {}

void TLabel::SetCaption(const AnsiString &caption)
{
    setText(caption);
    FitCaption();
}

void TLabel::FitCaption() { resize(sizeHint().width(), height()); }

void TLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitCaption();
}

TComboBox::TComboBox(QWidget *parent) : TControlOf<QComboBox>(parent)
{
    setEditable(true);
    // Typed text is taken as typed: no completion to an entry, no new entries.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    // Qt changes the text, if it changes, just before it tells of the
    // choice, within one event; the flag lasts until that event is done.
    connect(this, &QComboBox::editTextChanged, this, [this] {
        if (textJustChanged_) return;
        textJustChanged_ = true;
        QTimer::singleShot(0, this, [this] { textJustChanged_ = false; });
    });
    connect(this, &QComboBox::activated, this, [this] {
        if (!textJustChanged_) emit Rechosen();
    });
}

TToolBar::TToolBar(QWidget *parent) : TControlOf<QFrame>(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    lower();
}

TBevel::TBevel(QWidget *parent) : TControlOf<QFrame>(parent)
{
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);
}

TStatusPanel *TStatusPanels::GetItem(int index)
{
    if (index < 0 || index >= GetCount())
        throw Exception(QStringLiteral("Status panel %1 does not exist").arg(index));
    return &panels_[static_cast<std::size_t>(index)];
}

void TStatusPanel::SetText(const AnsiString &text)
{
    label_->setText(text);
    Speak();
}

void TStatusPanel::SetAccessibleName(const QString &name, const QString &description)
{
    name_ = name;
    label_->setAccessibleDescription(description);
    Speak();
}

void TStatusPanel::Speak()
{
    // Without a name of its own, a label is spoken by its text alone.
    if (name_.isEmpty()) return;
    const QString text = label_->text();
    label_->setAccessibleName(text.isEmpty() ? name_ : name_ + QStringLiteral(": ") + text);
}

TStatusBar::TStatusBar(QWidget *parent) : QStatusBar(parent)
{
    setSizeGripEnabled(true);
}

void TStatusBar::setPanelWidths(const QString &widths)
{
    panelWidths_ = widths;
    for (const QString &width : widths.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        auto *panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(panels_.GetCount()));
        panel->setFixedWidth(width.trimmed().toInt());
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        addWidget(panel);
        panels_.Add(panel);
    }
    NamePanels();
}

void TStatusBar::setPanelNames(const QStringList &names)
{
    panelNames_ = names;
    NamePanels();
}

void TStatusBar::setPanelDescriptions(const QStringList &descriptions)
{
    panelDescriptions_ = descriptions;
    NamePanels();
}

void TStatusBar::NamePanels()
{
    for (int i = 0; i < panels_.GetCount(); ++i)
        panels_.GetItem(i)->SetAccessibleName(panelNames_.value(i), panelDescriptions_.value(i));
}

TScrollBox::TScrollBox(QWidget *parent) : QScrollArea(parent) {}

QStringList TScrollBox::GetScrollBarNames() const
{
    return {horizontalScrollBar()->accessibleName(), verticalScrollBar()->accessibleName()};
}

void TScrollBox::setScrollBarNames(const QStringList &names)
{
    horizontalScrollBar()->setAccessibleName(names.value(0));
    verticalScrollBar()->setAccessibleName(names.value(1));
}

QStringList TScrollBox::GetScrollBarDescriptions() const
{
    return {horizontalScrollBar()->accessibleDescription(), verticalScrollBar()->accessibleDescription()};
}

void TScrollBox::setScrollBarDescriptions(const QStringList &descriptions)
{
    horizontalScrollBar()->setAccessibleDescription(descriptions.value(0));
    verticalScrollBar()->setAccessibleDescription(descriptions.value(1));
}

TClientArea::TClientArea(QWidget *parent) : QWidget(parent) {}

void TClientArea::childEvent(QChildEvent *event)
{
    if (event->added() && event->child()->isWidgetType()) event->child()->installEventFilter(this);
    QWidget::childEvent(event);
}

bool TClientArea::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move) FitChildren();
    return QWidget::eventFilter(watched, event);
}

void TClientArea::FitChildren()
{
    // Smallest size that holds every control; the scroll area shows bars
    // when that is more than it has room for.
    QRect extent;
    for (QObject *child : children())
        if (auto *widget = qobject_cast<QWidget *>(child)) extent |= widget->geometry();
    setMinimumSize(extent.right() + 1 > 0 ? extent.right() + 1 : 0, extent.bottom() + 1 > 0 ? extent.bottom() + 1 : 0);
}

// The controls a form description may hold: thin classes over Qt's widgets
// that give them the accessors the forms use, plus the event plumbing.
#pragma once

#include "platform/controls/application.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <vector>

// Which keys and buttons were down when a mouse event came: a set of flags.
enum class TShiftStateFlag : unsigned { Shift = 1, Alt = 2, Ctrl = 4, Left = 8, Right = 16, Middle = 32 };

class TShiftState {
public:
    constexpr TShiftState() = default;
    constexpr TShiftState(std::initializer_list<TShiftStateFlag> flags)
    {
        for (TShiftStateFlag flag : flags) *this << flag;
    }
    // Adds a flag to the set.
    constexpr TShiftState &operator<<(TShiftStateFlag flag)
    {
        bits_ |= static_cast<unsigned>(flag);
        return *this;
    }
    constexpr bool Contains(TShiftStateFlag flag) const { return (bits_ & static_cast<unsigned>(flag)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TShiftState &) const = default;

private:
    unsigned bits_ = 0;
};

using TNotifyEvent = std::function<void(TObject *Sender)>;
using TMouseMoveEvent = std::function<void(TObject *Sender, TShiftState Shift, int X, int Y)>;

// Connects the click or change event of source (a menu item, a button or a
// combo box) to handler, through Application->HandleEvent.
void ConnectNotify(QObject *source, TNotifyEvent handler);
// Connects the mouse-move event of source (an image control) to handler.
void ConnectMouseMove(QObject *source, TMouseMoveEvent handler);

using TMainMenu = QMenuBar;
using TMenuItem = QAction;

// Position relative to the control's parent widget (the form's client
// area, or the area a scroll box scrolls), and size.
template <class QtWidget>
class TControlOf : public QtWidget {
public:
    using QtWidget::QtWidget;

    int GetLeft() const { return this->x(); }
    int GetTop() const { return this->y(); }
    int GetWidth() const { return this->width(); }
    int GetHeight() const { return this->height(); }
    void SetWidth(int width) { this->resize(width, this->height()); }
    void SetHeight(int height) { this->resize(this->width(), height); }
    bool GetEnabled() const { return this->isEnabled(); }
    void SetEnabled(bool enabled) { this->setEnabled(enabled); }
};

class TButton : public TControlOf<QPushButton> {
    Q_OBJECT
    // What a click gives the form it stands on when that form is modal.
    Q_PROPERTY(int modalResult READ GetModalResult WRITE setModalResult)

public:
    explicit TButton(QWidget *parent = nullptr);
    AnsiString GetCaption() const { return text(); }
    void SetCaption(const AnsiString &caption) { setText(caption); }
    int GetModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    void setModalResult(int result) { SetModalResult(result); }

private:
    int modalResult_ = 0;
};

class TEdit : public TControlOf<QLineEdit> {
    Q_OBJECT
public:
    explicit TEdit(QWidget *parent = nullptr);
    AnsiString GetText() const { return text(); }
    void SetText(const AnsiString &text) { setText(text); }
};

// A label sizes itself to its caption, keeping its top-left corner.
class TLabel : public TControlOf<QLabel> {
    Q_OBJECT
public:
    explicit TLabel(QWidget *parent = nullptr);
    AnsiString GetCaption() const { return text(); }
    void SetCaption(const AnsiString &caption);
    // Widens or narrows the label to its caption.
    void FitCaption();

protected:
    void changeEvent(QEvent *event) override;
};

// An editable drop-down list: its change event comes for every change of
// its text, whether typed or chosen, and for every entry chosen from the
// list, even the one the box already shows.
class TComboBox : public TControlOf<QComboBox> {
    Q_OBJECT
public:
    explicit TComboBox(QWidget *parent = nullptr);
    AnsiString GetText() const { return currentText(); }
    void SetText(const AnsiString &text) { setEditText(text); }

signals:
    // An entry was chosen and the text stayed as it was, so no change of
    // the text tells of it.
    void Rechosen();

private:
    // The text changed while handling the current event: the choice that
    // follows in the same event has been told of already.
    bool textJustChanged_ = false;
};

// The strip along the top of a form; it stays behind the controls that lie
// over it.
class TToolBar : public TControlOf<QFrame> {
    Q_OBJECT
public:
    explicit TToolBar(QWidget *parent = nullptr);
};

// A framed, empty panel.
class TBevel : public TControlOf<QFrame> {
    Q_OBJECT
public:
    explicit TBevel(QWidget *parent = nullptr);
};

// One field of a status bar. A screen reader speaks its name with its text,
// "Pointer column: X=12", so that an empty field is not nameless and a
// filled one keeps its meaning.
class TStatusPanel {
public:
    explicit TStatusPanel(QLabel *label) : label_(label) {}
    AnsiString GetText() const { return label_->text(); }
    void SetText(const AnsiString &text);
    int GetWidth() const { return label_->width(); }
    // What the field shows, for screen readers.
    void SetAccessibleName(const QString &name, const QString &description);

private:
    void Speak();

    QLabel *label_;
    QString name_;
};

class TStatusPanels {
public:
    int GetCount() const { return static_cast<int>(panels_.size()); }
    // Panel index; an index that does not exist is an error.
    TStatusPanel *GetItem(int index);
    void Add(QLabel *label) { panels_.emplace_back(label); }

private:
    std::vector<TStatusPanel> panels_;
};

// A status bar of fixed-width panels, given by the description as a
// comma-separated list of widths, with their names and descriptions for
// screen readers, in the same order.
class TStatusBar : public QStatusBar {
    Q_OBJECT
    Q_PROPERTY(QString panelWidths READ GetPanelWidths WRITE setPanelWidths)
    Q_PROPERTY(QStringList panelNames READ GetPanelNames WRITE setPanelNames)
    Q_PROPERTY(QStringList panelDescriptions READ GetPanelDescriptions WRITE setPanelDescriptions)

public:
    explicit TStatusBar(QWidget *parent = nullptr);
    TStatusPanels *GetPanels() { return &panels_; }
    QString GetPanelWidths() const { return panelWidths_; }
    void setPanelWidths(const QString &widths);
    QStringList GetPanelNames() const { return panelNames_; }
    void setPanelNames(const QStringList &names);
    QStringList GetPanelDescriptions() const { return panelDescriptions_; }
    void setPanelDescriptions(const QStringList &descriptions);

private:
    // The description may give the names before or after the widths.
    void NamePanels();

    QString panelWidths_;
    QStringList panelNames_, panelDescriptions_;
    TStatusPanels panels_;
};

// The area of a form that scrolls when its controls outgrow the window. Its
// two scroll bars' names and descriptions for screen readers come from the
// description, horizontal first.
class TScrollBox : public QScrollArea {
    Q_OBJECT
    Q_PROPERTY(QStringList scrollBarNames READ GetScrollBarNames WRITE setScrollBarNames)
    Q_PROPERTY(QStringList scrollBarDescriptions READ GetScrollBarDescriptions WRITE setScrollBarDescriptions)

public:
    explicit TScrollBox(QWidget *parent = nullptr);
    QStringList GetScrollBarNames() const;
    void setScrollBarNames(const QStringList &names);
    QStringList GetScrollBarDescriptions() const;
    void setScrollBarDescriptions(const QStringList &descriptions);
};

// A scrolling client area: grows to hold its controls, so that the scroll
// area around it scrolls when a control grows beyond the window.
class TClientArea : public QWidget {
    Q_OBJECT
public:
    explicit TClientArea(QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void childEvent(QChildEvent *event) override;

private:
    void FitChildren();
};

// User input held while long work runs, and given back in order after.
#include "platform/controls/held_input.h"

#include "platform/controls/application.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <deque>
#include <memory>
#include <utility>

namespace {

enum class TTreatment { Pass, Hold, Drop };

TTreatment TreatmentOf(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod: return TTreatment::Hold;
    // Gestures are streams whose parts mean nothing late and alone.
    case QEvent::NativeGesture:
    case QEvent::Gesture: return TTreatment::Drop;
    // Drags pass: their drop defers its opening (RunWhenIdle). Touch and
    // tablet input pass as well, and the mouse events Qt makes of them are
    // held.
    default: return TTreatment::Pass;
    }
}

bool IsEscape(const QEvent *event)
{
    return (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
           && static_cast<const QKeyEvent *>(event)->key() == Qt::Key_Escape;
}

// The widget an event is for: itself, or for a shortcut the widget it is on.
QWidget *OwnerOf(QObject *watched)
{
    for (QObject *up = watched; up; up = up->parent())
        if (auto *widget = qobject_cast<QWidget *>(up)) return widget;
    return nullptr;
}

// The windows a user closes; not menus or tool tips, which close themselves.
bool IsClosableWindow(const QWidget *widget)
{
    return widget && widget->isWindow()
           && (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog);
}

// Holds from the start of work until the work and the event methods have
// ended and what was held has been given back; input that comes after the
// work while held input waits joins the end of the line, so that nothing
// overtakes it. Closes are requests all along.
class THeldInput : public QObject {
public:
    void BeginWork()
    {
        ++works_;
        if (holding_) return;
        holding_ = true;
        qApp->installEventFilter(this);
    }

    void EndWork()
    {
        --works_;
        reactions_ = {};
        letThrough_ = nullptr;
        Settle();
    }

    void SetReactions(THoldReactions reactions) { reactions_ = std::move(reactions); }
    void LetThrough(QWidget *window) { letThrough_ = window; }

    void BeginMethod() { ++methods_; }
    void EndMethod()
    {
        --methods_;
        Settle();
    }

    void RunOrHold(QObject *context, std::function<void()> method)
    {
        if (!holding_) {
            Application->HandleEvent(method);
            return;
        }
        held_.push_back({context, nullptr, std::move(method)});
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Input reaches a window first and its widgets after: the window
        // lets it through and each widget is judged.
        if (watched->isWindowType() || event == givingBack_) return false;
        QWidget *owner = OwnerOf(watched);
        if (owner && MayAct(owner)) return false;
        if (event->type() == QEvent::Close) {
            auto *window = qobject_cast<QWidget *>(watched);
            if (!IsClosableWindow(window)) return false;
            RequestClose(window);
            event->ignore();
            return true;
        }
        // Between the work's end and the method's (its message box), input
        // acts as usual, unless held input waits: then it follows that.
        if (works_ == 0 && held_.empty()) return false;
        if (IsEscape(event) && reactions_.escape) {
            if (event->type() == QEvent::KeyPress) reactions_.escape();
            return true;
        }
        switch (TreatmentOf(event->type())) {
        case TTreatment::Pass: return false;
        case TTreatment::Drop: return true;
        case TTreatment::Hold: break;
        }
        Hold(watched, event);
        return true;
    }

private:
    struct THeld {
        QPointer<QObject> target;
        std::unique_ptr<QEvent> event;
        // A deferred event method instead of an event.
        std::function<void()> method;
    };

    bool MayAct(const QWidget *owner) const
    {
        const QWidget *const windows[] = {letThrough_.data(), QApplication::activeModalWidget()};
        for (const QWidget *window : windows)
            if (window && (owner == window || window->isAncestorOf(owner))) return true;
        return false;
    }

    void RequestClose(QWidget *window)
    {
        if (!closing_.contains(window)) closing_ << window;
        if (reactions_.close) reactions_.close();
        Settle();
    }

    void Hold(QObject *target, const QEvent *event)
    {
        const bool moveAfterMove = event->type() == QEvent::MouseMove && !held_.empty() && held_.back().event
                                   && held_.back().event->type() == QEvent::MouseMove && held_.back().target == target;
        if (moveAfterMove) held_.pop_back();
        held_.push_back({target, std::unique_ptr<QEvent>(event->clone()), {}});
    }

    // Once no work and no event method runs: the windows asked to close
    // close, or what is held is given back, or the hold ends.
    void Settle()
    {
        if (works_ > 0 || methods_ > 0 || !holding_) return;
        if (!closing_.isEmpty()) {
            held_.clear();
            StopHolding();
            // Closed from the message loop, after the method's frames are gone.
            for (const QPointer<QWidget> &window : std::exchange(closing_, {}))
                if (window) QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
            return;
        }
        if (held_.empty())
            StopHolding();
        else
            ScheduleNext();
    }

    void StopHolding()
    {
        holding_ = false;
        qApp->removeEventFilter(this);
    }

    void ScheduleNext()
    {
        if (nextScheduled_) return;
        nextScheduled_ = true;
        QMetaObject::invokeMethod(this, [this] { GiveBackNext(); }, Qt::QueuedConnection);
    }

    // One at a time from the message loop, the next one scheduled before
    // this one is delivered: if it opens a modal window, the next runs in
    // that window's loop and sees it; if it starts work or runs an event
    // method with a loop of its own, the next waits for their end.
    void GiveBackNext()
    {
        nextScheduled_ = false;
        if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) held_.clear();
        if (works_ > 0 || methods_ > 0) return;
        if (held_.empty()) {
            Settle();
            return;
        }
        THeld next = std::move(held_.front());
        held_.pop_front();
        ScheduleNext();
        if (!next.target) return;
        if (next.method) {
            Application->HandleEvent(next.method);
            return;
        }
        givingBack_ = next.event.get();
        QCoreApplication::sendEvent(next.target, next.event.get());
        givingBack_ = nullptr;
    }

    int works_ = 0;
    int methods_ = 0;
    bool holding_ = false;
    bool nextScheduled_ = false;
    THoldReactions reactions_;
    QPointer<QWidget> letThrough_;
    std::deque<THeld> held_;
    QList<QPointer<QWidget>> closing_;
    // The held event being given back, which the filter lets through.
    const QEvent *givingBack_ = nullptr;
};

THeldInput &Held()
{
    static THeldInput held;
    return held;
}

} // namespace

TWorkHold::TWorkHold() { Held().BeginWork(); }

TWorkHold::~TWorkHold() { Held().EndWork(); }

void TWorkHold::SetReactions(THoldReactions reactions) { Held().SetReactions(std::move(reactions)); }

void TWorkHold::LetThrough(QWidget *window) { Held().LetThrough(window); }

TEventMethodScope::TEventMethodScope() { Held().BeginMethod(); }

TEventMethodScope::~TEventMethodScope() { Held().EndMethod(); }

void RunWhenIdle(QObject *context, std::function<void()> method)
{
    QTimer::singleShot(0, context, [context, method = std::move(method)] { Held().RunOrHold(context, method); });
}

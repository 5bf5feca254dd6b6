// The window waiting for long work done on a worker thread.
#include "platform/controls/waiting.h"

#include "platform/controls/image.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

namespace {

// The UI thread waits for one piece of work at a time.
bool waiting = false;

bool IsUserInput(QEvent::Type type)
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
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::InputMethod:
    case QEvent::NativeGesture:
    case QEvent::Gesture: return true;
    default: return false;
    }
}

// Keeps user input from every window but the progress dialog, and turns a
// window's close into a request honoured once the work has ended.
class TInputBlocker : public QObject {
public:
    TInputBlocker(TWorkProgress &progress, TLongWork kind) : progress_(progress), kind_(kind)
    {
        qApp->installEventFilter(this);
    }
    ~TInputBlocker() override
    {
        qApp->removeEventFilter(this);
        // Closed only now, after the event method ends and its error shows.
        for (const QPointer<QWidget> &window : closeLater_)
            if (window) QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    }

    void SetDialog(QWidget *dialog) { dialog_ = dialog; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Input reaches a window first and its widgets after: the window
        // lets it through and each widget is judged.
        if (watched->isWindowType()) return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        // Shortcuts go to objects owned by a widget (the dialog's Escape).
        QWidget *owner = widget;
        for (QObject *up = watched; up && !owner; up = up->parent()) owner = qobject_cast<QWidget *>(up);
        if (owner && dialog_ && (owner == dialog_ || dialog_->isAncestorOf(owner))) return false;
        if (event->type() == QEvent::Close && widget && widget->isWindow()) {
            if (kind_ == TLongWork::Cancellable) progress_.Cancel();
            if (!closeLater_.contains(widget)) closeLater_ << widget;
            event->ignore();
            return true;
        }
        return IsUserInput(event->type());
    }

private:
    TWorkProgress &progress_;
    TLongWork kind_;
    QPointer<QWidget> dialog_;
    QList<QPointer<QWidget>> closeLater_;
};

QList<TImage *> ImageControls()
{
    QList<TImage *> images;
    for (QWidget *widget : QApplication::allWidgets())
        if (auto *image = qobject_cast<TImage *>(widget)) images << image;
    return images;
}

// Image controls show what they showed until the in-place work is done.
class TFrozenImages {
public:
    explicit TFrozenImages(TLongWork kind)
    {
        if (kind != TLongWork::InPlace) return;
        for (TImage *image : ImageControls()) {
            image->Freeze();
            frozen_ << image;
        }
    }
    ~TFrozenImages()
    {
        for (const QPointer<TImage> &image : frozen_)
            if (image) image->Thaw();
    }
    TFrozenImages(const TFrozenImages &) = delete;
    TFrozenImages &operator=(const TFrozenImages &) = delete;

private:
    QList<QPointer<TImage>> frozen_;
};

// The busy cursor, from its delay on until the work is done.
class TBusyCursor {
public:
    TBusyCursor()
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            shown_ = true;
        });
        timer_.start(BusyCursorDelayMs);
    }
    ~TBusyCursor()
    {
        if (shown_) QApplication::restoreOverrideCursor();
    }
    TBusyCursor(const TBusyCursor &) = delete;
    TBusyCursor &operator=(const TBusyCursor &) = delete;

private:
    QTimer timer_;
    bool shown_ = false;
};

// The progress dialog of cancellable work, from its delay on.
class TProgressShown {
public:
    TProgressShown(TLongWork kind, const AnsiString &caption, TWorkProgress &progress, TInputBlocker &blocker)
        : caption_(caption), progress_(progress), blocker_(blocker)
    {
        if (kind != TLongWork::Cancellable) return;
        delay_.setSingleShot(true);
        QObject::connect(&delay_, &QTimer::timeout, [this] { Show(); });
        QObject::connect(&update_, &QTimer::timeout, [this] { Update(); });
        delay_.start(ProgressDialogDelayMs);
    }
    TProgressShown(const TProgressShown &) = delete;
    TProgressShown &operator=(const TProgressShown &) = delete;

private:
    void Show()
    {
        dialog_ = std::make_unique<QProgressDialog>(caption_, QStringLiteral("Cancel"), 0, 0, QApplication::activeWindow());
        dialog_->setObjectName(QStringLiteral("ProgressDialog"));
        dialog_->setWindowTitle(QApplication::applicationName());
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setAutoReset(false);
        dialog_->setAutoClose(false);
        dialog_->setMinimumWidth(360);
        QObject::connect(dialog_.get(), &QProgressDialog::canceled, [this] { Cancel(); });
        QObject::connect(dialog_.get(), &QDialog::rejected, [this] { Cancel(); });
        blocker_.SetDialog(dialog_.get());
        Update();
        dialog_->show();
        update_.start(100);
    }

    // The dialog hides itself when cancelled; it stays up, saying so, until
    // the work reaches a point where it can stop.
    void Cancel()
    {
        progress_.Cancel();
        dialog_->setLabelText(QStringLiteral("Cancelling…"));
        if (auto *button = dialog_->findChild<QPushButton *>()) button->setEnabled(false);
        dialog_->show();
    }

    void Update()
    {
        // Until the work knows how much there is, the bar runs to and fro.
        const double fraction = progress_.Fraction();
        const int maximum = fraction < 0 ? 0 : 1000;
        if (dialog_->maximum() != maximum) dialog_->setRange(0, maximum);
        if (maximum != 0) dialog_->setValue(static_cast<int>(fraction * maximum));
    }

    AnsiString caption_;
    TWorkProgress &progress_;
    TInputBlocker &blocker_;
    QTimer delay_;
    QTimer update_;
    std::unique_ptr<QProgressDialog> dialog_;
};

} // namespace

void WaitForWork(TLongWork kind, const AnsiString &caption, const std::function<void()> &work)
{
    auto *application = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!application || waiting || QThread::currentThread() != application->thread()) {
        work();
        return;
    }
    waiting = true;
    struct TWaitingEnds {
        ~TWaitingEnds() { waiting = false; }
    } waitingEnds;

    TWorkProgress progress;
    std::exception_ptr failure;
    {
        // Declared in the order they are set up; torn down in reverse once
        // the worker has been joined.
        TInputBlocker blocker(progress, kind);
        TBusyCursor cursor;
        TFrozenImages frozen(kind);
        TProgressShown shown(kind, caption, progress, blocker);
        QEventLoop loop;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            {
                TWorkScope scope(progress);
                try {
                    work();
                } catch (...) {
                    failure = std::current_exception();
                }
            }
            finished.store(true);
            QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        // The loop also ends when the program is told to quit: then the work
        // is cancelled where it can be and waited for.
        loop.exec();
        if (!finished.load()) progress.Cancel();
        worker.join();
    }
    if (failure) std::rethrow_exception(failure);
    if (progress.Cancelled()) throw ECancelled();
}

void RunOperation(const std::function<void()> &operation) { RunLongWork(TLongWork::InPlace, QString(), operation); }

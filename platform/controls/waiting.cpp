// The window waiting for long work done on a worker thread.
#include "platform/controls/waiting.h"

#include "platform/controls/held_input.h"
#include "platform/controls/image.h"

#include <QApplication>
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

// The progress dialog of an opening or a save, from its delay on, or at
// once when a window asks to close meanwhile; it reacts to Escape and to
// that close for the work of every kind.
class TProgressShown {
public:
    TProgressShown(TLongWork kind, const AnsiString &caption, TWorkProgress &progress, TWorkHold &hold)
        : kind_(kind), caption_(caption), progress_(progress), hold_(hold)
    {
        hold_.SetReactions({[this] { Cancel(); }, [this] { CloseAsked(); }});
        if (kind == TLongWork::InPlace) return;
        delay_.setSingleShot(true);
        QObject::connect(&delay_, &QTimer::timeout, [this] { Show(); });
        QObject::connect(&update_, &QTimer::timeout, [this] { Update(); });
        delay_.start(ProgressDialogDelayMs);
    }
    ~TProgressShown() { hold_.SetReactions({}); }
    TProgressShown(const TProgressShown &) = delete;
    TProgressShown &operator=(const TProgressShown &) = delete;

private:
    void Show()
    {
        if (dialog_) return;
        delay_.stop();
        dialog_ = std::make_unique<QProgressDialog>(caption_, QStringLiteral("Cancel"), 0, 0, QApplication::activeWindow());
        dialog_->setObjectName(QStringLiteral("ProgressDialog"));
        dialog_->setWindowTitle(QApplication::applicationName());
        dialog_->setWindowModality(Qt::NonModal);
        dialog_->setAutoReset(false);
        dialog_->setAutoClose(false);
        dialog_->setMinimumWidth(360);
        QObject::connect(dialog_.get(), &QProgressDialog::canceled, [this] { Cancel(); });
        QObject::connect(dialog_.get(), &QDialog::rejected, [this] { Cancel(); });
        hold_.LetThrough(dialog_.get());
        Update();
        dialog_->show();
        update_.start(100);
    }

    // Escape, the Cancel button or the dialog's own close. The dialog hides
    // itself when cancelled; it stays up, saying so, until the work reaches
    // a point where it can stop, or, when it can no longer stop, until it is
    // done.
    void Cancel()
    {
        if (kind_ == TLongWork::InPlace) return;
        progress_.Cancel();
        if (!dialog_) return;
        Update();
        dialog_->show();
    }

    // An opening is given up; a save is seen through, and says so.
    void CloseAsked()
    {
        closing_ = true;
        if (kind_ == TLongWork::Opening) Cancel();
        if (kind_ == TLongWork::Saving) Show();
        if (dialog_) Update();
    }

    void Update()
    {
        const bool cancelled = progress_.Cancelled();
        const bool finishing = progress_.Finishing();
        QString text = cancelled ? QStringLiteral("Cancelling…") : caption_;
        if (finishing) text += QStringLiteral("\nFinishing: it can no longer be cancelled.");
        if (closing_) text += QStringLiteral("\nThe window closes once this is done.");
        if (dialog_->labelText() != text) dialog_->setLabelText(text);
        if (auto *button = dialog_->findChild<QPushButton *>()) button->setEnabled(!cancelled && !finishing);
        // Until the work knows how much there is, the bar runs to and fro.
        const double fraction = progress_.Fraction();
        const int maximum = fraction < 0 ? 0 : 1000;
        if (dialog_->maximum() != maximum) dialog_->setRange(0, maximum);
        if (maximum != 0) dialog_->setValue(static_cast<int>(fraction * maximum));
    }

    TLongWork kind_;
    AnsiString caption_;
    TWorkProgress &progress_;
    TWorkHold &hold_;
    bool closing_ = false;
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
        TWorkHold hold;
        TBusyCursor cursor;
        TFrozenImages frozen(kind);
        TProgressShown shown(kind, caption, progress, hold);
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
    if (kind == TLongWork::Opening && progress.Cancelled()) throw ECancelled();
}

void RunOperation(const std::function<void()> &operation) { RunLongWork(TLongWork::InPlace, QString(), operation); }

// Progress and cancellation of long work, reported from deep inside it.
//
// Long work (opening, saving, an operation) runs on a worker thread while
// the window waits. The worker's code does not pass a progress object down
// through every call: a TWorkScope makes a TWorkProgress the current one
// for its thread, and loops anywhere below call ReportProgress, which
// records how far they are and throws ECancelled once the user cancelled.
// Outside any scope ReportProgress does nothing, so the same code runs
// unchanged in tests, benchmarks and fuzzers.
//
// Long work is started through RunLongWork. The window's layer installs
// the runner that does it on a worker thread while the window waits; the
// layers below (files, pictures) know nothing of windows. With no runner,
// and on any thread already doing long work, the work simply runs there.
#pragma once

#include "platform/base/strings_and_errors.h"

#include <atomic>
#include <cstdint>
#include <functional>

// The state one piece of work shares with the window that waits for it.
//
// Work runs until it is cancelled or reaches the point past which it can no
// longer stop (a save replacing its file): whichever comes first holds, so
// that work that went past that point is never reported as cancelled.
class TWorkProgress {
public:
    // Asks the work to stop; false when it is past the point of no return.
    bool Cancel();
    bool Cancelled() const { return state_.load(std::memory_order_acquire) == TState::Cancelled; }
    // Marks the point of no return; false when the work was cancelled first.
    bool BeginFinishing();
    bool Finishing() const { return state_.load(std::memory_order_acquire) == TState::Finishing; }

    // done of total units; total 0 means the amount is not known yet.
    void Set(std::uint64_t done, std::uint64_t total)
    {
        total_.store(total, std::memory_order_relaxed);
        done_.store(done, std::memory_order_relaxed);
    }
    // 0..1, or a negative number while the amount is not known.
    double Fraction() const;

private:
    enum class TState { Running, Cancelled, Finishing };
    std::atomic<TState> state_{TState::Running};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
};

// Raised inside work the user cancelled. The message loop shows nothing for
// it: the command simply ends, having changed nothing it reports.
class ECancelled : public Exception {
public:
    ECancelled() : Exception(QStringLiteral("Cancelled")) {}
};

// Makes progress the current thread's work for the scope's lifetime.
class TWorkScope {
public:
    explicit TWorkScope(TWorkProgress &progress);
    ~TWorkScope();
    TWorkScope(const TWorkScope &) = delete;
    TWorkScope &operator=(const TWorkScope &) = delete;

private:
    TWorkProgress *previous_;
};

// Records done of total for the current thread's work and throws
// ECancelled when it was cancelled. Cheap enough to call once a row.
void ReportProgress(std::uint64_t done, std::uint64_t total);

// Throws ECancelled when the current thread's work was cancelled.
void CheckCancelled();

// The current thread's work can no longer stop from here on (a file is
// about to be replaced): throws ECancelled when it was cancelled before;
// afterwards a cancel is refused and the window says the work is finishing.
void BeginFinishing();

// What a piece of long work does, which decides how the window waits.
enum class TLongWork {
    // Changes pictures in place (an operation, a conversion): it cannot stop
    // half-way, and the pictures are not drawn again until it is done.
    InPlace,
    // Reads a file into a picture of its own: it shows its progress once it
    // lasts and can be cancelled; cancelled, its result is not taken.
    Opening,
    // Writes a file from a picture: it shows its progress once it lasts and
    // can be cancelled until it begins finishing (BeginFinishing); once it
    // returns, the file is written, whatever was pressed meanwhile.
    Saving,
};

// Does `work` of the given kind; `caption` says what it is ("Opening ...").
// Exceptions the work raises come out of the runner as they were raised.
using TWorkRunner =
    std::function<void(TLongWork kind, const AnsiString &caption, const std::function<void()> &work)>;

// Installs the runner that RunLongWork uses from then on; an empty one
// makes long work run where it is started again. Gives the previous one.
TWorkRunner SetWorkRunner(TWorkRunner runner);

// Runs work through the installed runner, or at once on this thread when
// there is none or this thread is doing long work already.
void RunLongWork(TLongWork kind, const AnsiString &caption, const std::function<void()> &work);


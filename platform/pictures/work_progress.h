// Progress and cancellation of long work, reported from deep inside it.
//
// Long work (opening, saving, an operation) runs on a worker thread while
// the window waits. The worker's code does not pass a progress object down
// through every call: a TWorkScope makes a TWorkProgress the current one
// for its thread, and loops anywhere below call ReportProgress, which
// records how far they are and throws ECancelled once the user cancelled.
// Outside any scope ReportProgress does nothing, so the same code runs
// unchanged in tests, benchmarks and fuzzers.
#pragma once

#include "platform/pictures/system.h"

#include <atomic>
#include <cstdint>

// The state one piece of work shares with the window that waits for it.
class TWorkProgress {
public:
    void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

    // done of total units; total 0 means the amount is not known yet.
    void Set(std::uint64_t done, std::uint64_t total)
    {
        total_.store(total, std::memory_order_relaxed);
        done_.store(done, std::memory_order_relaxed);
    }
    // 0..1, or a negative number while the amount is not known.
    double Fraction() const;

private:
    std::atomic<bool> cancelled_{false};
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

// Progress and cancellation of long work, reported from deep inside it.
#include "platform/base/work_progress.h"

#include <utility>

namespace {
thread_local TWorkProgress *currentWork = nullptr;
// Set once by the window's layer while the program starts.
TWorkRunner installedRunner;
} // namespace

bool TWorkProgress::Cancel()
{
    TState running = TState::Running;
    return state_.compare_exchange_strong(running, TState::Cancelled, std::memory_order_acq_rel) ||
           running == TState::Cancelled;
}

bool TWorkProgress::BeginFinishing()
{
    TState running = TState::Running;
    return state_.compare_exchange_strong(running, TState::Finishing, std::memory_order_acq_rel) ||
           running == TState::Finishing;
}

double TWorkProgress::Fraction() const
{
    const std::uint64_t total = total_.load(std::memory_order_relaxed);
    if (total == 0) return -1.0;
    const std::uint64_t done = done_.load(std::memory_order_relaxed);
    return done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
}

TWorkScope::TWorkScope(TWorkProgress &progress) : previous_(currentWork) { currentWork = &progress; }

TWorkScope::~TWorkScope() { currentWork = previous_; }

void ReportProgress(std::uint64_t done, std::uint64_t total)
{
    if (!currentWork) return;
    currentWork->Set(done, total);
    if (currentWork->Cancelled()) throw ECancelled();
}

void CheckCancelled()
{
    if (currentWork && currentWork->Cancelled()) throw ECancelled();
}

void BeginFinishing()
{
    if (currentWork && !currentWork->BeginFinishing()) throw ECancelled();
}

TWorkRunner SetWorkRunner(TWorkRunner runner) { return std::exchange(installedRunner, std::move(runner)); }

void RunLongWork(TLongWork kind, const AnsiString &caption, const std::function<void()> &work)
{
    if (installedRunner && !currentWork)
        installedRunner(kind, caption, work);
    else
        work();
}

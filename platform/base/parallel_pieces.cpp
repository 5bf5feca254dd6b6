// Pieces of work shared out among threads, with one progress and one failure.
#include "platform/base/parallel_pieces.h"

#include "platform/base/work_progress.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

unsigned UsableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

void ForEachPiece(std::size_t pieces, unsigned workers, const std::function<void(std::size_t piece, unsigned worker)> &work)
{
    std::atomic<std::size_t> next{0}, finished{0};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto run = [&](unsigned worker) {
        try {
            while (!stop.load(std::memory_order_relaxed)) {
                const std::size_t i = next.fetch_add(1);
                if (i >= pieces) break;
                work(i, worker);
                const std::size_t count = finished.fetch_add(1) + 1;
                if (worker == 0) ReportProgress(count, pieces);
            }
        } catch (...) {
            const std::lock_guard lock(failureLock);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (unsigned t = 1; t < std::max(1u, workers); ++t) helpers.emplace_back(run, t);
        run(0);
    }
    if (failure) std::rethrow_exception(failure);
    // The helpers may have done the last pieces, or all of them.
    ReportProgress(pieces, pieces);
}

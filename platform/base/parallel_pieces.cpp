// Pieces of work shared out among a pool of threads, with one progress and one failure.
#include "platform/base/parallel_pieces.h"

#include "platform/base/work_progress.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace {

// 0: not held.
std::atomic<unsigned> heldThreads{0};
std::atomic<std::size_t> heldBandBytes{BandBytes};

// One run of pieces: the threads that join it take the next piece until
// none is left or one failed.
class TRun {
public:
    TRun(std::size_t pieces, const std::function<void(std::size_t, unsigned)> &work, TPieceProgress progress)
        : pieces_(pieces), work_(work), progress_(progress)
    {
    }

    void Work(unsigned worker)
    {
        try {
            while (!stop_.load(std::memory_order_relaxed)) {
                const std::size_t i = next_.fetch_add(1);
                if (i >= pieces_) break;
                work_(i, worker);
                const std::size_t count = finished_.fetch_add(1) + 1;
                if (worker == 0 && progress_ == TPieceProgress::Reported) ReportProgress(count, pieces_);
            }
        } catch (...) {
            const std::lock_guard lock(failureLock_);
            if (!failure_) failure_ = std::current_exception();
            stop_ = true;
        }
    }

    // Once every thread has left it.
    void Finish() const
    {
        if (failure_) std::rethrow_exception(failure_);
        // The helpers may have done the last pieces, or all of them.
        if (progress_ == TPieceProgress::Reported) ReportProgress(pieces_, pieces_);
    }

private:
    const std::size_t pieces_;
    const std::function<void(std::size_t, unsigned)> &work_;
    const TPieceProgress progress_;
    std::atomic<std::size_t> next_{0}, finished_{0};
    std::atomic<bool> stop_{false};
    std::exception_ptr failure_;
    std::mutex failureLock_;
};

// Threads that wait for runs, started as runs first need them. One run at
// a time: another thread's run meanwhile (the view drawn while a file is
// opened) starts threads of its own.
class TPool {
public:
    ~TPool()
    {
        for (std::jthread &thread : threads_) thread.request_stop();
        wake_.notify_all();
    }

    // Does the run on the calling thread and `helpers` of the pool's;
    // false, doing nothing, while the pool serves another run.
    bool TryRun(TRun &run, unsigned helpers)
    {
        {
            const std::lock_guard lock(lock_);
            if (busy_) return false;
            busy_ = true;
            // Short of memory for a thread's stack, the run makes do with
            // the threads there are, at least the calling one.
            try {
                while (threads_.size() < helpers) threads_.emplace_back([this](std::stop_token stop) { Serve(stop); });
            } catch (...) {
            }
            run_ = &run;
            seats_ = std::min<unsigned>(helpers, static_cast<unsigned>(threads_.size()));
            nextWorker_ = 1;
        }
        wake_.notify_all();
        run.Work(0);
        std::unique_lock lock(lock_);
        // Helpers that wake from now on find no run; those inside finish it.
        run_ = nullptr;
        seats_ = 0;
        left_.wait(lock, [this] { return working_ == 0; });
        busy_ = false;
        return true;
    }

private:
    void Serve(std::stop_token stop)
    {
        std::unique_lock lock(lock_);
        for (;;) {
            if (!wake_.wait(lock, stop, [this] { return run_ && seats_ > 0; })) return;
            --seats_;
            ++working_;
            TRun *run = run_;
            const unsigned worker = nextWorker_++;
            lock.unlock();
            run->Work(worker);
            lock.lock();
            if (--working_ == 0) left_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable_any wake_;
    std::condition_variable left_;
    TRun *run_ = nullptr;
    unsigned seats_ = 0;
    unsigned working_ = 0;
    unsigned nextWorker_ = 1;
    bool busy_ = false;
    // Last: stopped and joined before the members they use go.
    std::vector<std::jthread> threads_;
};

TPool &Pool()
{
    static TPool pool;
    return pool;
}

void RunOnFreshThreads(TRun &run, unsigned helpers)
{
    std::vector<std::jthread> threads;
    try {
        threads.reserve(helpers);
        for (unsigned t = 1; t <= helpers; ++t) threads.emplace_back([&run, t] { run.Work(t); });
    } catch (...) {
    }
    run.Work(0);
}

} // namespace

unsigned UsableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned WorkerThreads()
{
    const unsigned held = heldThreads.load(std::memory_order_relaxed);
    return held ? held : UsableCores();
}

TPiecesHeld::TPiecesHeld(unsigned threads, std::size_t bandBytes)
    : previousThreads_(heldThreads.exchange(std::max(1u, threads))),
      previousBandBytes_(heldBandBytes.exchange(std::max<std::size_t>(1, bandBytes)))
{
}

TPiecesHeld::~TPiecesHeld()
{
    heldThreads = previousThreads_;
    heldBandBytes = previousBandBytes_;
}

void ForEachPiece(std::size_t pieces, unsigned workers, const std::function<void(std::size_t piece, unsigned worker)> &work,
                  TPieceProgress progress)
{
    TRun run(pieces, work, progress);
    const unsigned helpers = static_cast<unsigned>(std::min<std::size_t>(std::max(1u, workers), std::max<std::size_t>(pieces, 1)) - 1);
    if (helpers == 0)
        run.Work(0);
    else if (!Pool().TryRun(run, helpers))
        RunOnFreshThreads(run, helpers);
    run.Finish();
}

namespace {

// The even bands: how many, each of perBand rows or more unless the rows
// are fewer.
std::size_t EvenBands(int rows, std::size_t bytesPerRow, int minRows)
{
    const std::size_t perBand = std::max({std::size_t(1), static_cast<std::size_t>(std::max(minRows, 1)),
                                          heldBandBytes.load(std::memory_order_relaxed) / std::max<std::size_t>(1, bytesPerRow)});
    return std::max<std::size_t>(1, static_cast<std::size_t>(rows) / perBand);
}

// The last even bands are cut smaller, the second last in halves and the
// last in quarters, so that the threads taking a pass's last pieces end
// it close together (within a quarter band, not a whole one). Band 0 is
// never cut: a picture of one band stays one piece. Parts keep minRows.
constexpr std::size_t TailParts[] = {2, 4};
constexpr std::size_t TailBands = std::size(TailParts);

struct TTailedBands {
    long long rows, even;
    // Into how many parts each even band is cut.
    std::size_t Parts(std::size_t band, int minRows) const
    {
        if (band == 0 || band + TailBands < static_cast<std::size_t>(even)) return 1;
        const auto bandRows = static_cast<std::size_t>(Start(band + 1) - Start(band));
        const std::size_t wanted = TailParts[band + TailBands - static_cast<std::size_t>(even)];
        return std::clamp<std::size_t>(bandRows / static_cast<std::size_t>(std::max(minRows, 1)), 1, wanted);
    }
    long long Start(std::size_t band) const { return static_cast<long long>(band) * rows / even; }
};

TTailedBands TailedBands(int rows, std::size_t bytesPerRow, int minRows)
{
    return {rows, static_cast<long long>(EvenBands(rows, bytesPerRow, minRows))};
}

} // namespace

int BandCount(int rows, std::size_t bytesPerRow, int minRows)
{
    if (rows <= 0) return 0;
    const TTailedBands bands = TailedBands(rows, bytesPerRow, minRows);
    const auto even = static_cast<std::size_t>(bands.even);
    std::size_t count = even;
    for (std::size_t i = even > TailBands ? even - TailBands : 0; i < even; ++i) count += bands.Parts(i, minRows) - 1;
    return static_cast<int>(count);
}

TBand Band(int index, int rows, std::size_t bytesPerRow, int minRows)
{
    const TTailedBands bands = TailedBands(rows, bytesPerRow, minRows);
    // Bands before the tail are the even bands, one piece each.
    const std::size_t tail = static_cast<std::size_t>(std::max<long long>(1, bands.even - static_cast<long long>(TailBands)));
    std::size_t band = static_cast<std::size_t>(index), part = 0;
    if (band >= tail) {
        part = band - tail;
        band = tail;
        while (part >= bands.Parts(band, minRows) && band + 1 < static_cast<std::size_t>(bands.even)) part -= bands.Parts(band++, minRows);
    }
    // Spread evenly: bands differ by a row at most, as do the parts of one.
    const long long first = bands.Start(band), end = bands.Start(band + 1);
    const auto parts = static_cast<long long>(bands.Parts(band, minRows));
    const auto at = [&](std::size_t p) { return static_cast<int>(first + static_cast<long long>(p) * (end - first) / parts); };
    return {index, at(part), at(part + 1)};
}

void ForEachBand(int rows, std::size_t bytesPerRow, const std::function<void(const TBand &band, unsigned worker)> &work, int minRows)
{
    const int count = BandCount(rows, bytesPerRow, minRows);
    ForEachPiece(
        static_cast<std::size_t>(count), WorkerThreads(),
        [&](std::size_t piece, unsigned worker) { work(Band(static_cast<int>(piece), rows, bytesPerRow, minRows), worker); },
        TPieceProgress::Unreported);
}

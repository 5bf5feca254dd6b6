// Work shared out among threads in pieces: each piece done once, a failure
// or a cancel stopping every thread at its next piece and coming out once;
// rows cut into bands that depend on the rows alone; holds of the threads
// and bands; two runs at once.
#include "platform/base/parallel_pieces.h"
#include "platform/base/work_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

namespace {

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

} // namespace

TEST(ParallelPieces, EveryPieceIsDoneOnceOnTheWorkersAskedForAndReportedOnce)
{
    std::vector<std::atomic<int>> done(300);
    std::vector<std::atomic<int>> byWorker(4);
    TWorkProgress progress;
    {
        TWorkScope scope(progress);
        ForEachPiece(done.size(), 3, [&](std::size_t piece, unsigned worker) {
            ++done[piece];
            ++byWorker[worker];
        });
    }
    for (std::size_t i = 0; i < done.size(); ++i) ASSERT_EQ(done[i].load(), 1) << "piece " << i;
    EXPECT_EQ(byWorker[0] + byWorker[1] + byWorker[2], 300);
    EXPECT_EQ(byWorker[3].load(), 0);
    EXPECT_EQ(progress.Fraction(), 1.0);
    // A helper finishes the last piece after the calling thread's last
    // report (a half): the report once all are done still says whole.
    TWorkProgress last;
    {
        TWorkScope scope(last);
        std::atomic<bool> helperStarted{false};
        ForEachPiece(2, 2, [&](std::size_t, unsigned worker) {
            if (worker == 0) {
                for (int i = 0; i < 10000 && !helperStarted; ++i) Pause();
            } else {
                helperStarted = true;
                // Bounded, should the calling thread never report.
                for (int i = 0; i < 10000 && last.Fraction() != 0.5; ++i) Pause();
            }
        });
    }
    EXPECT_EQ(last.Fraction(), 1.0);
    // No piece at all, and one worker: the calling thread alone.
    ForEachPiece(0, 2, [&](std::size_t, unsigned) { ADD_FAILURE() << "a piece of none"; });
    ForEachPiece(5, 1, [&](std::size_t piece, unsigned worker) { EXPECT_EQ(worker, 0u) << piece; });
}

TEST(ParallelPieces, AFailureOrACancelStopsEveryThreadAndComesOutOnce)
{
    for (const unsigned failingWorker : {0u, 1u}) {
        std::atomic<int> started{0};
        EXPECT_THROW(ForEachPiece(1000, 2,
                                  [&](std::size_t, unsigned worker) {
                                      if (++started > 10 && worker == failingWorker) throw Exception(QStringLiteral("this piece failed"));
                                      Pause();
                                  }),
                     Exception);
        // 1000 pieces of a millisecond would take half a second.
        EXPECT_LT(started.load(), 200) << "worker " << failingWorker;
    }
    TWorkProgress progress;
    TWorkScope scope(progress);
    std::atomic<int> started{0};
    EXPECT_THROW(ForEachPiece(1000, 2,
                              [&](std::size_t, unsigned) {
                                  if (++started == 10) progress.Cancel();
                                  Pause();
                              }),
                 ECancelled);
    EXPECT_LT(started.load(), 200);
}

TEST(ParallelPieces, BandsCoverEveryRowOnceInOrderAndDependOnTheRowsAlone)
{
    for (const auto &[rows, bytesPerRow, minRows] : {std::tuple{1000, std::size_t(4096), 1}, std::tuple{7, std::size_t(1) << 22, 1},
                                                     std::tuple{100, std::size_t(1) << 22, 8}, std::tuple{5, std::size_t(1), 8},
                                                     std::tuple{60, BandBytes / 20, 8}, std::tuple{4, BandBytes / 2, 1}}) {
        const int count = BandCount(rows, bytesPerRow, minRows);
        int next = 0;
        for (int i = 0; i < count; ++i) {
            const TBand band = Band(i, rows, bytesPerRow, minRows);
            EXPECT_EQ(band.index, i);
            EXPECT_EQ(band.first, next) << rows << " rows, band " << i;
            // The last bands are cut smaller, never below minRows.
            EXPECT_GE(band.end - band.first, std::min(rows, std::max<int>(minRows, static_cast<int>(BandBytes / bytesPerRow) / 4)));
            next = band.end;
        }
        EXPECT_EQ(next, rows);
        const TPiecesHeld held(7);
        EXPECT_EQ(BandCount(rows, bytesPerRow, minRows), count) << "bands change with the threads";
    }
    EXPECT_EQ(BandCount(0, 100), 0);
    // 4 MiB of rows of 4 KiB: bands of a mebibyte, the third in halves and
    // the last in quarters, so that threads end a pass close together.
    EXPECT_EQ(BandCount(1024, 4096), 8);
    const std::vector<std::pair<int, int>> expected{{0, 256}, {256, 512}, {512, 640}, {640, 768},
                                                    {768, 832}, {832, 896}, {896, 960}, {960, 1024}};
    for (int i = 0; i < 8; ++i) {
        const TBand band = Band(i, 1024, 4096);
        EXPECT_EQ(std::pair(band.first, band.end), expected[static_cast<std::size_t>(i)]) << "band " << i;
    }
    // The first band is never cut, so a small picture is one piece; a
    // part keeps minRows rows (20 rows a band: two parts of 8, not four).
    EXPECT_EQ(BandCount(255, 4096), 1);
    EXPECT_EQ(BandCount(600, 4096), 1 + 4);
    EXPECT_EQ(BandCount(60, BandBytes / 20, 8), 1 + 2 + 2);
    EXPECT_EQ(BandCount(60, BandBytes / 20, 16), 3);
}

TEST(ParallelPieces, AHoldSetsTheThreadsAndBandsOfEveryRunUntilItEnds)
{
    const unsigned usable = WorkerThreads();
    {
        const TPiecesHeld held(3, 1);
        EXPECT_EQ(WorkerThreads(), 3u);
        EXPECT_EQ(BandCount(50, 1000), 50);
        {
            const TPiecesHeld inner(1);
            EXPECT_EQ(WorkerThreads(), 1u);
        }
        EXPECT_EQ(WorkerThreads(), 3u);
        std::vector<std::atomic<int>> visits(50);
        std::atomic<unsigned> highestWorker{0};
        ForEachBand(50, 1000, [&](const TBand &band, unsigned worker) {
            for (int y = band.first; y < band.end; ++y) ++visits[static_cast<std::size_t>(y)];
            unsigned seen = highestWorker.load();
            while (worker > seen && !highestWorker.compare_exchange_weak(seen, worker)) {
            }
        });
        for (std::size_t y = 0; y < visits.size(); ++y) EXPECT_EQ(visits[y].load(), 1) << "row " << y;
        EXPECT_LT(highestWorker.load(), 3u);
    }
    EXPECT_EQ(WorkerThreads(), usable);
    EXPECT_EQ(BandCount(50, 1000), 1);
}

// The view drawn while a file is opened: a run started while another
// holds the pool's threads is done on threads of its own.
TEST(ParallelPieces, RunsOnTwoThreadsAtOnceBothFinish)
{
    const TPiecesHeld held(2);
    std::atomic<bool> inner{false};
    std::atomic<int> outerPieces{0};
    std::jthread other;
    ForEachPiece(20, 2, [&](std::size_t piece, unsigned) {
        if (piece == 0)
            other = std::jthread([&] {
                std::atomic<int> pieces{0};
                ForEachPiece(30, 2, [&](std::size_t, unsigned) { ++pieces; });
                inner = pieces == 30;
            });
        ++outerPieces;
        Pause();
    });
    other.join();
    EXPECT_EQ(outerPieces.load(), 20);
    EXPECT_TRUE(inner.load());
}

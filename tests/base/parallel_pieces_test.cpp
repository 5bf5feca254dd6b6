// Work shared out among threads in pieces: each piece done once, a failure
// or a cancel stopping every thread at its next piece and coming out once.
#include "platform/base/parallel_pieces.h"
#include "platform/base/work_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
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

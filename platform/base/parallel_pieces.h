// Work split into pieces done at once on every core the process may use:
// the writers that encode a picture in independent parts, and the
// operations, conversions and codecs that split a picture's rows into bands.
//
// Pieces run on a pool of threads kept for the process's life, so that a
// run costs a wake-up rather than a thread's start (tens of microseconds,
// as long as a whole pass over a small picture). Whatever the thread
// count, every piece is done once, so work whose pieces write disjoint
// bytes gives the same bytes on one thread or on many.
#pragma once

#include <cstddef>
#include <functional>

// The cores this process may run on (at least 1).
unsigned UsableCores();

// The threads a run of pieces uses: the usable cores, unless a TPiecesHeld
// holds runs to a count of its own.
unsigned WorkerThreads();

// Rows a band holds: about BandBytes of them, at least one.
inline constexpr std::size_t BandBytes = std::size_t(1) << 20;

// While it lives, every run started on any thread uses `threads` threads
// (1: the calling thread alone) and bands of about `bandBytes` (1: a row
// each): for the benchmark's one-thread peers, and for tests that compare
// thread counts and band boundaries. Holds nest; the newest wins.
class TPiecesHeld {
public:
    explicit TPiecesHeld(unsigned threads, std::size_t bandBytes = BandBytes);
    ~TPiecesHeld();
    TPiecesHeld(const TPiecesHeld &) = delete;
    TPiecesHeld &operator=(const TPiecesHeld &) = delete;

private:
    unsigned previousThreads_;
    std::size_t previousBandBytes_;
};

// Whether a run tells the current work's progress how far it is (and so
// stops at a cancel), or runs to its end unseen: work that changes a
// picture in place cannot stop half-way.
enum class TPieceProgress { Reported, Unreported };

// Calls work(piece, worker) for every piece in [0, pieces), on `workers`
// threads at once (the calling thread among them, as worker 0); `worker`
// tells the threads apart, for what each keeps of its own, and each takes
// its pieces in increasing order. Reported: the calling thread alone
// reports progress (ReportProgress), after each piece it does and once all
// are done, so a cancel stops every thread at its next piece.
// An exception in any piece is thrown here once every thread has stopped.
void ForEachPiece(std::size_t pieces, unsigned workers, const std::function<void(std::size_t piece, unsigned worker)> &work,
                  TPieceProgress progress = TPieceProgress::Reported);

// A band of rows first <= y < end, the index-th from the top.
struct TBand {
    int index;
    int first;
    int end;
};

// Rows [0, rows) of bytesPerRow each cut into bands of about BandBytes (or
// as a TPiecesHeld says), the last two of them in halves and quarters, and
// of at least minRows rows where there are as many: how many, and the
// index-th. The bands depend on the rows and their size only, never on
// the threads.
int BandCount(int rows, std::size_t bytesPerRow, int minRows = 1);
TBand Band(int index, int rows, std::size_t bytesPerRow, int minRows = 1);

// work(band, worker) for every band, as pieces on WorkerThreads() threads,
// unreported.
void ForEachBand(int rows, std::size_t bytesPerRow, const std::function<void(const TBand &band, unsigned worker)> &work,
                 int minRows = 1);

// Work split into pieces done at once on every core the process may use,
// for the writers that encode a picture in independent parts.
#pragma once

#include <cstddef>
#include <functional>

// The cores this process may run on (at least 1).
unsigned UsableCores();

// Calls work(piece, worker) for every piece in [0, pieces), on `workers`
// threads at once (the calling thread among them, as worker 0); `worker`
// tells the threads apart, for what each keeps of its own. The calling
// thread alone reports progress (ReportProgress), after each piece it does
// and once all are done, so a cancel stops every thread at its next piece.
// An exception in any piece is thrown here once every thread has stopped.
void ForEachPiece(std::size_t pieces, unsigned workers, const std::function<void(std::size_t piece, unsigned worker)> &work);

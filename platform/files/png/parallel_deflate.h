// One zlib stream made from pieces compressed at once on every core, as
// parallel gzip does: each piece is a raw deflate stream ending on a byte
// boundary (an empty stored block), the last one final, and the checksum
// is combined from the pieces' own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Writes the uncompressed data of piece `index` to `data` (room for the
// largest piece) and returns its size; `scratch` is the calling worker's own.
// Called from several threads at once.
using TPieceMaker = std::function<std::size_t(std::size_t index, std::uint8_t *data, std::uint8_t *scratch)>;

// The zlib stream (RFC 1950) of the pieces' data in order, as parts to be
// written one after the other: the first starts with the stream's header,
// the last ends with its Adler-32 checksum. Each piece starts without the
// data before it (no shared dictionary). Every buffer is allocated before
// the workers start, so that they never allocate themselves (a thread's
// first allocation would reserve an arena of its own for the rest of the
// process). Reports progress per piece done (ReportProgress) and stops at
// cancellation; an exception in any piece is thrown here once every
// thread has stopped.
std::vector<std::vector<std::uint8_t>> CompressPiecesInParallel(std::size_t pieces, std::size_t maxPieceBytes, std::size_t scratchBytes,
                                                                const TPieceMaker &make);

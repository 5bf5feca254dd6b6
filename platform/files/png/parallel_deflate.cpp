// Pieces compressed by zlib on worker threads and joined into one stream.
#include "platform/files/png/parallel_deflate.h"

#include "platform/base/parallel_pieces.h"

#include "platform/base/strings_and_errors.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>

namespace {

// Run-length matches only: filtered picture rows gain almost nothing from
// distant matches, and this is several times faster than the default.
constexpr int Strategy = Z_RLE;
constexpr int Level = 1;

struct Piece {
    std::vector<std::uint8_t> compressed;
    std::uint32_t adler = 1;
    std::size_t length = 0;
};

class Deflater {
public:
    Deflater()
    {
        if (deflateInit2(&stream_, Level, Z_DEFLATED, -15, 8, Strategy) != Z_OK) throw std::bad_alloc();
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    // Room for the compressed data of `bytes` bytes, a sync flush included.
    std::size_t Bound(std::size_t bytes) { return deflateBound(&stream_, static_cast<uLong>(bytes)) + 16; }

    // How a piece's deflate data ends: on a byte boundary with an empty
    // stored block, so that the next piece's data follows it, or with the
    // final block of the stream.
    enum class TEnd { Flushed, Final };

    // Writes the raw deflate data of data[0, size) to out[start, out.size()),
    // which Bound made room for, ending as `end` says, and shrinks `out` to
    // its end.
    void Compress(const std::uint8_t *data, std::size_t size, TEnd end, std::size_t start, std::vector<std::uint8_t> &out)
    {
        deflateReset(&stream_);
        stream_.next_in = const_cast<Bytef *>(data);
        stream_.avail_in = static_cast<uInt>(size);
        stream_.next_out = out.data() + start;
        stream_.avail_out = static_cast<uInt>(out.size() - start);
        const bool final = end == TEnd::Final;
        const int result = deflate(&stream_, final ? Z_FINISH : Z_SYNC_FLUSH);
        if ((final && result != Z_STREAM_END) || (!final && (result != Z_OK || stream_.avail_in != 0 || stream_.avail_out == 0)))
            throw Exception(QStringLiteral("the picture could not be compressed"));
        out.resize(start + stream_.total_out);
    }

private:
    z_stream stream_{};
};

// What one worker uses: made on the calling thread.
struct Worker {
    Deflater deflater;
    std::vector<std::uint8_t> data, scratch;
};

} // namespace

std::vector<std::vector<std::uint8_t>> CompressPiecesInParallel(std::size_t pieces, std::size_t maxPieceBytes, std::size_t scratchBytes,
                                                                const TPieceMaker &make)
{
    // No data at all: one final empty block and the checksum of nothing.
    if (pieces == 0) return {{0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}};
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(WorkerThreads(), pieces));
    std::vector<std::unique_ptr<Worker>> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.push_back(std::make_unique<Worker>());
        workers.back()->data.resize(maxPieceBytes);
        workers.back()->scratch.resize(scratchBytes);
    }
    // The header (2 bytes) and the checksum (4) have their room from the start.
    const std::size_t bound = workers[0]->deflater.Bound(maxPieceBytes) + 6;
    std::vector<Piece> done(pieces);
    for (Piece &piece : done) piece.compressed.resize(bound);

    ForEachPiece(pieces, threads, [&](std::size_t i, unsigned t) {
        Worker &worker = *workers[t];
        const std::size_t size = make(i, worker.data.data(), worker.scratch.data());
        Piece &piece = done[i];
        piece.adler = libdeflate_adler32(1, worker.data.data(), size);
        piece.length = size;
        // The stream's header: deflate with a 32 KiB window, fastest level.
        std::size_t start = 0;
        if (i == 0) {
            piece.compressed[0] = 0x78;
            piece.compressed[1] = 0x01;
            start = 2;
        }
        worker.deflater.Compress(worker.data.data(), size, i + 1 == pieces ? Deflater::TEnd::Final : Deflater::TEnd::Flushed, start,
                                 piece.compressed);
    });

    std::uint32_t adler = done[0].adler;
    for (std::size_t i = 1; i < pieces; ++i) adler = static_cast<std::uint32_t>(adler32_combine(adler, done[i].adler, static_cast<z_off_t>(done[i].length)));
    std::vector<std::vector<std::uint8_t>> parts;
    parts.reserve(pieces);
    for (Piece &piece : done) parts.push_back(std::move(piece.compressed));
    for (int shift = 24; shift >= 0; shift -= 8) parts.back().push_back(static_cast<std::uint8_t>(adler >> shift));
    return parts;
}

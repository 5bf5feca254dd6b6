// The pages of a large buffer just allocated, made ready on another core
// while the calling thread fills it: for a decoder that runs on one core
// (a JPEG without restart markers), whose own first touch of each page
// would otherwise wait for the system to map and zero it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

// While it lives, a thread of its own maps the pages of [begin, begin +
// bytes) in order from the start, writable, without writing a byte of
// them (the contents stay what they are, whoever writes them meanwhile).
// Only where it pays: the buffer is at least MinBytes, more than one thread
// may work (WorkerThreads), and the system can (Linux 5.14 and later); else
// it does nothing, and the first touches map the pages as before. A thread
// of its own rather than the pool's, which would hold the calling thread
// until its pieces are done. Ending, it stops at its next chunk and waits.
class TPagesMadeReady {
public:
    static constexpr std::size_t MinBytes = std::size_t(4) << 20;
    // Pages are mapped this many bytes at a time, a huge page's worth.
    static constexpr std::size_t ChunkBytes = std::size_t(2) << 20;

    TPagesMadeReady(std::uint8_t *begin, std::size_t bytes);
    ~TPagesMadeReady() = default;
    TPagesMadeReady(const TPagesMadeReady &) = delete;
    TPagesMadeReady &operator=(const TPagesMadeReady &) = delete;

    // Waits until every page is ready, or the system refused: for tests.
    void Wait();

private:
    std::jthread thread_;
};

// Pages mapped ahead of the thread that fills them.
#include "platform/base/pages_made_ready.h"

#include "platform/base/parallel_pieces.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>

namespace {

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
// Maps the whole pages inside [first, end) a chunk at a time, until a stop
// or the system's refusal (an older kernel, or no memory: the filling
// thread's own touch then meets it, as it would have).
void MakeReady(std::uintptr_t first, std::uintptr_t end, const std::stop_token &stop)
{
    for (std::uintptr_t at = first; at < end && !stop.stop_requested(); at += TPagesMadeReady::ChunkBytes) {
        const std::size_t length = std::min<std::uintptr_t>(TPagesMadeReady::ChunkBytes, end - at);
        if (madvise(reinterpret_cast<void *>(at), length, MADV_POPULATE_WRITE) != 0) return;
    }
}
#endif

} // namespace

TPagesMadeReady::TPagesMadeReady([[maybe_unused]] std::uint8_t *begin, [[maybe_unused]] std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (bytes < MinBytes || WorkerThreads() < 2) return;
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    // The partial pages at either end are left to the filling thread:
    // madvise takes whole pages only.
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    // Short of memory for a thread, the pages are mapped as they are touched.
    try {
        thread_ = std::jthread([first, end](std::stop_token stop) { MakeReady(first, end, stop); });
    } catch (...) {
    }
#endif
}

void TPagesMadeReady::Wait()
{
    if (thread_.joinable()) thread_.join();
}

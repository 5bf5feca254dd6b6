// Huge pages for large buffers written whole: the bitmap's pixels, a file
// read into memory, a PNG's inflated data, a BMP file being written.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

// Asks the system to back a large buffer that is about to be written whole
// with huge pages: its first touch then faults once per 2 MiB instead of
// once per 4 KiB, which otherwise costs more than the copying itself, and
// freeing it unmaps a few pages rather than thousands. Advice only: where it
// is unsupported nothing changes.
inline void PreferHugePages([[maybe_unused]] std::uint8_t *begin, [[maybe_unused]] std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    constexpr std::size_t worthIt = std::size_t(4) << 20;
    if (bytes < worthIt) return;
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#endif
}

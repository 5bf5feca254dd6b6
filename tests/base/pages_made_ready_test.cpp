// Pages of a large buffer made ready on another core: every whole page is
// mapped, no byte changes, and nothing is done where it would not pay.
#include "platform/base/pages_made_ready.h"
#include "platform/base/parallel_pieces.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace {

// Anonymous memory fresh from the system: none of its pages mapped yet.
class TFreshMemory {
public:
    explicit TFreshMemory(std::size_t bytes) : bytes_(bytes)
    {
        void *memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        begin_ = memory == MAP_FAILED ? nullptr : static_cast<std::uint8_t *>(memory);
    }
    ~TFreshMemory()
    {
        if (begin_) munmap(begin_, bytes_);
    }
    TFreshMemory(const TFreshMemory &) = delete;
    TFreshMemory &operator=(const TFreshMemory &) = delete;

    std::uint8_t *Begin() const { return begin_; }
    std::size_t Bytes() const { return bytes_; }
    // How many of its pages are mapped.
    std::size_t PagesMapped() const
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> mapped((bytes_ + page - 1) / page);
        if (mincore(begin_, bytes_, mapped.data()) != 0) return SIZE_MAX;
        std::size_t count = 0;
        for (unsigned char m : mapped) count += m & 1;
        return count;
    }
    std::size_t Pages() const
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        return (bytes_ + page - 1) / page;
    }

private:
    std::size_t bytes_;
    std::uint8_t *begin_;
};

// Whether this system maps pages on request (Linux 5.14 and later).
bool CanMakePagesReady()
{
    TFreshMemory probe(static_cast<std::size_t>(sysconf(_SC_PAGESIZE)));
#ifdef MADV_POPULATE_WRITE
    return probe.Begin() && madvise(probe.Begin(), probe.Bytes(), MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

} // namespace

TEST(PagesMadeReady, EveryWholePageIsMappedAndNoByteChanges)
{
    if (!CanMakePagesReady()) GTEST_SKIP() << "this system does not map pages on request";
    const TPiecesHeld twoThreads(2);
    TFreshMemory memory(3 * TPagesMadeReady::ChunkBytes + 12345);
    ASSERT_TRUE(memory.Begin());
    EXPECT_EQ(memory.PagesMapped(), 0u);
    // Bytes already written, in the first and the last chunk and between,
    // some at the start of a page.
    const std::size_t written[] = {0, 4096, 4097, TPagesMadeReady::ChunkBytes + 3, 2 * TPagesMadeReady::ChunkBytes, memory.Bytes() - 1};
    for (std::size_t at : written) memory.Begin()[at] = static_cast<std::uint8_t>(at | 1);
    // Made ready from an address inside a page: the partial first and last
    // pages are left to their writer, here the bytes written above.
    TPagesMadeReady ready(memory.Begin() + 1, memory.Bytes() - 1);
    ready.Wait();
    EXPECT_EQ(memory.PagesMapped(), memory.Pages());
    for (std::size_t at = 0; at < memory.Bytes(); ++at) {
        bool wasWritten = false;
        for (std::size_t w : written) wasWritten |= w == at;
        ASSERT_EQ(memory.Begin()[at], wasWritten ? static_cast<std::uint8_t>(at | 1) : 0) << "byte " << at;
    }
}

// A buffer being written while its pages are made ready keeps every byte
// written, whichever of the two reaches a page first.
TEST(PagesMadeReady, WritingMeanwhileLosesNothing)
{
    const TPiecesHeld twoThreads(2);
    TFreshMemory memory(8 * TPagesMadeReady::ChunkBytes);
    ASSERT_TRUE(memory.Begin());
    {
        const TPagesMadeReady ready(memory.Begin(), memory.Bytes());
        for (std::size_t at = 0; at < memory.Bytes(); at += 1021) memory.Begin()[at] = static_cast<std::uint8_t>(at % 251 + 1);
    }
    for (std::size_t at = 0; at < memory.Bytes(); ++at)
        ASSERT_EQ(memory.Begin()[at], at % 1021 == 0 ? static_cast<std::uint8_t>(at % 251 + 1) : 0) << "byte " << at;
}

// Nothing is mapped ahead on one thread (the benchmark's one-thread runs,
// a process held to one core), for a small buffer, or once it has ended.
TEST(PagesMadeReady, NothingIsDoneOnOneThreadOrForASmallBuffer)
{
    if (!CanMakePagesReady()) GTEST_SKIP() << "this system does not map pages on request";
    {
        const TPiecesHeld oneThread(1);
        TFreshMemory memory(4 * TPagesMadeReady::ChunkBytes);
        TPagesMadeReady ready(memory.Begin(), memory.Bytes());
        ready.Wait();
        EXPECT_EQ(memory.PagesMapped(), 0u);
    }
    const TPiecesHeld twoThreads(2);
    TFreshMemory small(TPagesMadeReady::MinBytes - 4096);
    TPagesMadeReady ready(small.Begin(), small.Bytes());
    ready.Wait();
    EXPECT_EQ(small.PagesMapped(), 0u);
    // Just large enough: mapped.
    TFreshMemory enough(TPagesMadeReady::MinBytes);
    TPagesMadeReady readyEnough(enough.Begin(), enough.Bytes());
    readyEnough.Wait();
    EXPECT_EQ(enough.PagesMapped(), enough.Pages());
}

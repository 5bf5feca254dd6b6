// What this processor runs, asked once of the processor itself, and the
// level kernels are held to.
#include "platform/base/vector_kernels.h"

#include <atomic>

namespace {

unsigned CpuLevels()
{
    static const unsigned levels = [] {
        unsigned mask = 0;
        for (TVectorLevel level : {TVectorLevel::Plain, TVectorLevel::Sse2, TVectorLevel::Ssse3, TVectorLevel::Avx2, TVectorLevel::Avx512})
            if (CpuRuns(level)) mask |= 1u << static_cast<unsigned>(level);
        return mask;
    }();
    return levels;
}

std::atomic<TVectorLevel> heldLevel{TVectorLevel::Avx512};

} // namespace

bool CpuRuns(TVectorLevel level)
{
    switch (level) {
    case TVectorLevel::Plain: return true;
#if defined(__x86_64__) || defined(__i386__)
    case TVectorLevel::Sse2: return __builtin_cpu_supports("sse2");
    case TVectorLevel::Ssse3: return __builtin_cpu_supports("ssse3");
    case TVectorLevel::Avx2: return __builtin_cpu_supports("avx2");
    case TVectorLevel::Avx512: return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#endif
    default: return false;
    }
}

unsigned RunnableVectorLevels()
{
    const unsigned held = static_cast<unsigned>(heldLevel.load(std::memory_order_relaxed));
    return CpuLevels() & ((2u << held) - 1);
}

TVectorLevelHeld::TVectorLevelHeld(TVectorLevel highest) : previous_(heldLevel.exchange(highest)) {}

TVectorLevelHeld::~TVectorLevelHeld() { heldLevel.store(previous_); }

// What this processor runs, asked once of the processor itself.
#include "platform/base/vector_kernels.h"

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

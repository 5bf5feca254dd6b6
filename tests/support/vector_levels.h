// The vector levels a test holds kernels to in turn, to run each kernel an
// operation has and compare it with the plain code.
#pragma once

#include "platform/base/vector_kernels.h"

#include <gtest/gtest.h>

#include <vector>

// The levels this processor runs, Plain first.
inline std::vector<TVectorLevel> VectorLevelsToCompare()
{
    std::vector<TVectorLevel> levels;
    for (TVectorLevel level : {TVectorLevel::Plain, TVectorLevel::Sse2, TVectorLevel::Ssse3, TVectorLevel::Avx2, TVectorLevel::Avx512})
        if (CpuRuns(level)) levels.push_back(level);
    return levels;
}

// Runs `work` with kernels held to the plain level, then to each level in
// turn, and expects the same result every time.
template <typename Work>
void ExpectEveryKernelAsPlain(Work work)
{
    const auto plain = [&] {
        const TVectorLevelHeld held(TVectorLevel::Plain);
        return work();
    }();
    for (TVectorLevel level : VectorLevelsToCompare()) {
        const TVectorLevelHeld held(level);
        ASSERT_EQ(work(), plain) << "level " << int(level);
    }
}

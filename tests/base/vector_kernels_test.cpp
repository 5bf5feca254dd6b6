// The choice of vector kernels, and holding it to a level.
#include "platform/base/vector_kernels.h"

#include <gtest/gtest.h>

namespace {

// The highest of the levels that this processor runs.
TVectorLevel HighestRun(std::initializer_list<TVectorLevel> levels)
{
    TVectorLevel best = TVectorLevel::Plain;
    for (TVectorLevel level : levels)
        if (CpuRuns(level) && level > best) best = level;
    return best;
}

} // namespace

TEST(VectorKernels, AnOperationRunsItsHighestKernelThatTheProcessorRuns)
{
    constexpr TVectorKernels kernels{TVectorLevel::Sse2, TVectorLevel::Avx2};
    EXPECT_EQ(kernels.Chosen(), HighestRun({TVectorLevel::Sse2, TVectorLevel::Avx2}));
    EXPECT_EQ(TVectorKernels{}.Chosen(), TVectorLevel::Plain);
    EXPECT_EQ(TVectorKernels{TVectorLevel::Avx512}.Chosen(), HighestRun({TVectorLevel::Avx512}));
}

TEST(VectorKernels, AHeldLevelCapsEveryChoiceUntilItEnds)
{
    constexpr TVectorKernels kernels{TVectorLevel::Sse2, TVectorLevel::Ssse3, TVectorLevel::Avx2};
    const TVectorLevel free = kernels.Chosen();
    {
        const TVectorLevelHeld plain(TVectorLevel::Plain);
        EXPECT_EQ(kernels.Chosen(), TVectorLevel::Plain);
        {
            // A level between the operation's kernels takes the one below it.
            const TVectorLevelHeld inner(TVectorLevel::Ssse3);
            EXPECT_EQ(kernels.Chosen(), HighestRun({TVectorLevel::Sse2, TVectorLevel::Ssse3}));
            EXPECT_EQ(TVectorKernels{TVectorLevel::Avx2}.Chosen(), TVectorLevel::Plain);
        }
        EXPECT_EQ(kernels.Chosen(), TVectorLevel::Plain);
    }
    EXPECT_EQ(kernels.Chosen(), free);
}

// The one choice of vector kernels: which instruction-set levels this
// processor runs, the highest level kernels may use, and for an operation
// the fastest level it has a kernel for.
#pragma once

#include <bit>
#include <initializer_list>

// Levels of x86 vector instructions, lowest first. Plain code runs anywhere;
// on other processors it is the only level.
enum class TVectorLevel { Plain, Sse2, Ssse3, Avx2, Avx512 };

// True when this processor and build run code of the level. Avx512 means
// AVX-512 F and BW.
bool CpuRuns(TVectorLevel level);

// The levels kernels may use now, a bit each: those this processor runs,
// up to the level a TVectorLevelHeld holds them to.
unsigned RunnableVectorLevels();

// While it lives, every kernel chosen is of the given level or a lower
// one, so that tests run each kernel and compare it with the plain code;
// the level before comes back at its end. Operations choose their kernel
// as they start: hold the level between operations, never during one.
class TVectorLevelHeld {
public:
    explicit TVectorLevelHeld(TVectorLevel highest);
    ~TVectorLevelHeld();
    TVectorLevelHeld(const TVectorLevelHeld &) = delete;
    TVectorLevelHeld &operator=(const TVectorLevelHeld &) = delete;

private:
    TVectorLevel previous_;
};

// The levels an operation has kernels for; Plain is always among them.
class TVectorKernels {
public:
    constexpr TVectorKernels(std::initializer_list<TVectorLevel> levels) : mask_(1u)
    {
        for (TVectorLevel level : levels) mask_ |= 1u << static_cast<unsigned>(level);
    }

    // The kernel to run: the highest level the operation has a kernel for
    // that may run now.
    TVectorLevel Chosen() const { return static_cast<TVectorLevel>(std::bit_width(mask_ & RunnableVectorLevels()) - 1); }

private:
    unsigned mask_;
};

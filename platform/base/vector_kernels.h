// The one choice of vector kernels: which instruction-set levels this
// processor runs, and for an operation the fastest level it has a kernel for.
#pragma once

#include <initializer_list>

// Levels of x86 vector instructions, lowest first. Plain code runs anywhere;
// on other processors it is the only level.
enum class TVectorLevel { Plain, Sse2, Ssse3, Avx2, Avx512 };

// True when this processor and build run code of the level. Avx512 means
// AVX-512 F and BW.
bool CpuRuns(TVectorLevel level);

// The levels an operation has kernels for; Plain is always among them.
class TVectorKernels {
public:
    constexpr TVectorKernels(std::initializer_list<TVectorLevel> levels) : mask_(1u)
    {
        for (TVectorLevel level : levels) mask_ |= 1u << static_cast<unsigned>(level);
    }

    // True when the operation has a kernel of the level and this processor runs it.
    bool Available(TVectorLevel level) const { return Has(level) && CpuRuns(level); }
    // The requested level when available, else Plain.
    TVectorLevel Usable(TVectorLevel requested) const { return Available(requested) ? requested : TVectorLevel::Plain; }
    // The highest available level.
    TVectorLevel Fastest() const
    {
        for (TVectorLevel level : {TVectorLevel::Avx512, TVectorLevel::Avx2, TVectorLevel::Ssse3, TVectorLevel::Sse2})
            if (Available(level)) return level;
        return TVectorLevel::Plain;
    }

private:
    constexpr bool Has(TVectorLevel level) const { return (mask_ >> static_cast<unsigned>(level)) & 1u; }

    unsigned mask_;
};

// Runs of pieces held to thread counts and band sizes, for tests that
// compare what work gives on one thread with what it gives on several.
#pragma once

#include "platform/pictures/bitmap.h"
#include "platform/base/parallel_pieces.h"

#include <QSize>

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

struct TSplit {
    unsigned threads;
    std::size_t bandBytes;
};

// One thread and one band for the whole picture: what work does unsplit.
inline constexpr TSplit Unsplit{1, std::numeric_limits<std::size_t>::max()};

// More threads than this machine may have and fewer, with bands of one row
// (or the fewest an operation takes), of a few rows, and of a few hundred
// bytes.
std::vector<TSplit> SplitsToCompare();

// "3 threads, bands of 7 bytes", for failure messages.
std::string Describe(const TSplit &split);

// Holds runs to the split while it lives.
class THeldSplit {
public:
    explicit THeldSplit(const TSplit &split) : held_(split.threads, split.bandBytes) {}

private:
    TPiecesHeld held_;
};

// Sizes that make awkward rows and bands: a single pixel, 1 x N and N x 1,
// and widths that are not a multiple of any vector's width.
std::vector<QSize> AwkwardSizes();

// Every byte of every row, padding and spare bits included, the size, the
// format, the alpha channel and the whole palette are equal.
bool SameRowBytes(const TBitmap &a, const TBitmap &b);

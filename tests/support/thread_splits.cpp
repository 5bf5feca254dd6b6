// Runs of pieces held to thread counts and band sizes.
#include "support/thread_splits.h"

#include <cstring>

std::vector<TSplit> SplitsToCompare() { return {{2, 1}, {3, 1}, {2, 7}, {5, 300}, {8, 1}, {4, 40}}; }

std::string Describe(const TSplit &split)
{
    return std::to_string(split.threads) + " threads, bands of " + std::to_string(split.bandBytes) + " bytes";
}

std::vector<QSize> AwkwardSizes() { return {{1, 1}, {1, 41}, {41, 1}, {2, 3}, {17, 33}, {33, 17}, {63, 20}, {65, 9}, {130, 3}}; }

bool SameRowBytes(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat() ||
        a.GetAlphaChannel() != b.GetAlphaChannel() || a.GetPalette() != b.GetPalette() || a.BytesPerRow() != b.BytesPerRow())
        return false;
    // Row by row: either may keep its rows bottom up.
    for (int y = 0; y < a.GetHeight(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), a.BytesPerRow()) != 0) return false;
    return true;
}

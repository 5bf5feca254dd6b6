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
    return a.GetWidth() == b.GetWidth() && a.GetHeight() == b.GetHeight() && a.GetPixelFormat() == b.GetPixelFormat() &&
           a.GetAlphaChannel() == b.GetAlphaChannel() && a.GetPalette() == b.GetPalette() && a.ImageBytes() == b.ImageBytes() &&
           (a.ImageBytes() == 0 || std::memcmp(a.Row(0), b.Row(0), a.ImageBytes()) == 0);
}

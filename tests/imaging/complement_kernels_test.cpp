// Complement's vectorised kernel against the plain one, on awkward sizes in every format.
#include "imaging/complement.h"
#include "support/pictures.h"
#include "support/vector_levels.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(ComplementKernels, EveryKernelGivesThePlainResultAndLeavesPaddingAlone)
{
    std::uint32_t seed = 11;
    for (TVectorLevel level : VectorLevelsToCompare()) {
        const TVectorLevelHeld held(level);
        for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit})
            for (int width : {1, 2, 3, 4, 15, 31, 32, 33, 63, 64, 65, 127, 129, 1001, 1024})
                for (int height : {1, 3}) {
                    auto bitmap = MakeBitmap(width, height, format);
                    FillRandomBytes(*bitmap, ++seed);
                    // Padding holds marks that must survive.
                    const int used = (width * BitsPerPixel(format) + 7) / 8;
                    for (int y = 0; y < height; ++y)
                        std::fill(bitmap->GetScanline(y) + used, bitmap->GetScanline(y) + bitmap->BytesPerRow(), 0xA5);
                    TBitmap expected;
                    expected.Assign(bitmap.get());
                    const int inverted = std::min(width, used);
                    // Bits beyond the width in the last byte keep their marks too.
                    const int spareBits = inverted == used ? used * 8 - width * BitsPerPixel(format) : 0;
                    for (int y = 0; y < height; ++y)
                        for (int x = 0; x < inverted; ++x) {
                            const int flipped = x == inverted - 1 ? (0xFF << spareBits) & 0xFF : 0xFF;
                            expected.GetScanline(y)[x] = static_cast<std::uint8_t>(expected.GetScanline(y)[x] ^ flipped);
                        }
                    Complement(*bitmap);
                    for (int y = 0; y < height; ++y)
                        ASSERT_TRUE(std::equal(bitmap->GetScanline(y), bitmap->GetScanline(y) + bitmap->BytesPerRow(),
                                               expected.GetScanline(y)))
                            << "level " << int(level) << ", format " << format << ", " << width << " x " << height << ", row " << y;
                }
    }
}

} // namespace

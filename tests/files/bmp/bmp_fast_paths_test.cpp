// The fast paths of the BMP codec against plain definitions, on awkward sizes.
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/bmp/bmp_format.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

TEST(BmpFastPaths, RowCopiesMatchMemcpyAtEveryLengthAndOffset)
{
    std::vector<std::uint8_t> source(400), target(400), expected(400);
    std::mt19937 random(3);
    for (std::uint8_t &b : source) b = static_cast<std::uint8_t>(random());
    for (std::size_t offset : {0u, 1u, 7u, 15u})
        for (std::size_t bytes = 0; bytes <= 300; ++bytes) {
            std::fill(target.begin(), target.end(), 0xCD);
            expected = target;
            std::memcpy(expected.data() + 3, source.data() + offset, bytes);
            bmp::CopyRow(target.data() + 3, source.data() + offset, bytes);
            ASSERT_EQ(target, expected) << "offset " << offset << ", " << bytes << " bytes";
        }
}

// A whole file is decoded into memory that is not cleared first: the
// padding must come out zero even when the file's padding is not.
TEST(BmpFastPaths, WholeFilesDecodeWithZeroPaddingWhateverTheFileHoldsThere)
{
    std::uint32_t seed = 40;
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit})
        for (int width : AwkwardWidths) {
            auto bitmap = MakeBitmap(width, 3, format);
            FillRandomBytes(*bitmap, ++seed);
            QByteArray file = EncodeBmp(*bitmap);
            const std::size_t pixelsAt = bmp::GetU32(reinterpret_cast<const std::uint8_t *>(file.constData()) + bmp::PixelOffsetAt);
            const std::size_t stride = static_cast<std::size_t>(bitmap->BytesPerRow());
            const std::size_t used = (static_cast<std::size_t>(width) * BitsPerPixel(format) + 7) / 8;
            const std::size_t decodedUsed = format == pf4bit ? static_cast<std::size_t>(width) : used;
            for (std::size_t row = 0; row < 3; ++row)
                for (std::size_t i = used; i < stride; ++i) file[static_cast<qsizetype>(pixelsAt + row * stride + i)] = char(0xEE);
            // Dirty memory for the allocator to hand back.
            {
                std::vector<std::uint8_t> dirt(stride * 3 + 64, 0xEE);
                volatile std::uint8_t kept = dirt[dirt.size() / 2];
                (void)kept;
            }
            TBitmap decoded;
            DecodeBmp({reinterpret_cast<const std::uint8_t *>(file.constData()), static_cast<std::size_t>(file.size())}, decoded);
            // 4-bit files open as pf8bit: the colours are what must match.
            ASSERT_TRUE(SameColours(decoded, *bitmap)) << "format " << format << ", width " << width;
            for (int y = 0; y < 3; ++y)
                for (std::size_t i = decodedUsed; i < static_cast<std::size_t>(decoded.BytesPerRow()); ++i)
                    ASSERT_EQ(decoded.GetScanline(y)[i], 0) << "format " << format << ", width " << width << ", row " << y;
        }
}

} // namespace

// BMP writing: every pixel format in its own depth and palette, back unchanged.
#include "platform/files/bmp/bmp_codec.h"
#include "support/pictures.h"
#include "support/profiles.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>

namespace {

std::uint32_t U32(const QByteArray &data, int at)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(data.constData()) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// A file as a writer that writes straight into it sees it, kept in memory
// with the calls made.
struct TKeptFile final : TFileSink {
    std::optional<std::uint64_t> size;
    QByteArray bytes;
    int writes = 0;
    bool writtenBeforeBegin = false;

    void Begin(std::uint64_t fileBytes) override
    {
        EXPECT_FALSE(size.has_value()) << "begun twice";
        size = fileBytes;
    }
    void Write(std::span<const std::span<const std::uint8_t>> pieces) override
    {
        writtenBeforeBegin |= !size.has_value();
        ++writes;
        for (const std::span<const std::uint8_t> piece : pieces)
            bytes.append(reinterpret_cast<const char *>(piece.data()), static_cast<qsizetype>(piece.size()));
    }
};

} // namespace

TEST(BmpWriter, EveryFormatAndAwkwardWidthComesBackInItsOwnDepthAndOtherReadersAgree)
{
    const struct {
        TPixelFormat format;
        std::uint32_t headerSize, bits, compression, colours;
    } cases[] = {
        {pf1bit, 40, 1, 0, 2},   {pf4bit, 40, 4, 0, 16},  {pf8bit, 40, 8, 0, 256}, {pf15bit, 40, 16, 0, 0},
        {pf16bit, 40, 16, 3, 0}, {pf24bit, 40, 24, 0, 0}, {pf32bit, 108, 32, 3, 0},
    };
    for (const auto &c : cases)
        for (int width : {1, 3, 7, 31, 33}) {
            SCOPED_TRACE(testing::Message() << "format " << c.format << ", width " << width);
            const int height = 3;
            auto original = MakeBitmap(width, height, c.format);
            FillRandomBytes(*original, static_cast<std::uint32_t>(c.format * 100 + width));
            // The layout's unused top bit of 5-5-5 pixels is 0.
            for (int y = 0; c.format == pf15bit && y < height; ++y)
                for (int x = 0; x < width; ++x) original->GetScanline(y)[2 * x + 1] &= 0x7F;
            std::mt19937 random(static_cast<std::uint32_t>(width));
            for (int i = 0; i < original->PaletteSize(); ++i) original->SetPaletteEntry(i, TColor(random() & 0xFFFFFF));

            const QByteArray file = EncodeBmp(*original);
            EXPECT_EQ(U32(file, 2), std::uint32_t(file.size()));
            EXPECT_EQ(U32(file, 14), c.headerSize);
            EXPECT_EQ(U32(file, 28) & 0xFFFF, c.bits);
            EXPECT_EQ(U32(file, 30), c.compression);
            EXPECT_EQ(U32(file, 46), c.colours);
            if (c.format == pf32bit) {
                EXPECT_EQ(U32(file, 14 + 52), 0xFF000000u) << "alpha mask";
            }
            // Every bit after a row's pixels, padding included, is 0.
            const std::size_t pixelsAt = U32(file, 10), rowBytes = (width * c.bits + 31) / 32 * 4;
            ASSERT_EQ(std::size_t(file.size()), pixelsAt + rowBytes * height);
            for (std::size_t row = 0; row < std::size_t(height); ++row)
                for (std::size_t bit = width * c.bits; bit < rowBytes * 8; ++bit)
                    ASSERT_FALSE((file[int(pixelsAt + row * rowBytes + bit / 8)] >> (7 - bit % 8)) & 1) << "bit " << bit;

            TBitmap reopened;
            ASSERT_NO_THROW(DecodeBmp({reinterpret_cast<const std::uint8_t *>(file.constData()), std::size_t(file.size())}, reopened));
            // Reading gives 4-bit pictures one byte an index; everything else comes back as it was.
            if (c.format == pf4bit) {
                ASSERT_EQ(reopened.GetPixelFormat(), pf8bit);
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        EXPECT_EQ(reopened.GetScanline(y)[x], (original->GetScanline(y)[x / 2] >> (x % 2 ? 0 : 4)) & 15);
                EXPECT_TRUE(SameColours(*original, reopened));
            } else {
                EXPECT_TRUE(SameBitmap(*original, reopened));
            }

            // Qt's reader sees the same colours; it widens 5- and 6-bit channels by a shift alone.
            const QImage other = QImage::fromData(file, "BMP");
            ASSERT_FALSE(other.isNull());
            const int tolerance = c.format == pf15bit || c.format == pf16bit ? 7 : 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const TColor ours = original->GetPixel(x, y);
                    const QRgb theirs = other.pixel(x, y);
                    ASSERT_NEAR(GetRValue(ours), qRed(theirs), tolerance);
                    ASSERT_NEAR(GetGValue(ours), qGreen(theirs), tolerance);
                    ASSERT_NEAR(GetBValue(ours), qBlue(theirs), tolerance);
                }
        }
}

// Into memory that holds anything, the file is the same: the padding of
// every row, the bits past the last pixel and every unused header byte are
// written as 0.
TEST(BmpWriter, EveryByteIsWrittenWhateverTheMemoryHeld)
{
    for (TPixelFormat format : AllPixelFormats)
        for (int width : {1, 3, 5, 9}) {
            SCOPED_TRACE(std::to_string(BitsPerPixel(format)) + " bits, width " + std::to_string(width));
            auto bitmap = MakeBitmap(width, 3, format);
            FillRandomBytes(*bitmap, static_cast<std::uint32_t>(width));
            const QByteArray clean = EncodeBmp(*bitmap);
            for (std::uint8_t junk : {0x00, 0xA5, 0xFF}) {
                std::vector<std::uint8_t> file(BmpFileBytes(*bitmap), junk);
                EncodeBmpInto(*bitmap, file);
                ASSERT_EQ(QByteArray(reinterpret_cast<const char *>(file.data()), static_cast<qsizetype>(file.size())), clean);
                // Padding: the bytes of each file row beyond its pixels.
                const std::size_t stride = static_cast<std::size_t>(bitmap->BytesPerRow());
                const std::size_t used = (static_cast<std::size_t>(width) * BitsPerPixel(format) + 7) / 8;
                const std::size_t pixelsAt = U32(clean, 10);
                for (std::size_t row = 0; row < 3; ++row)
                    for (std::size_t i = used; i < stride; ++i) ASSERT_EQ(file[pixelsAt + row * stride + i], 0) << "row " << row << ", byte " << i;
            }
        }
}

// Written straight into a file, the bytes are EncodeBmp's whichever way the
// rows go: wide rows the file holds as they are, straight from the
// picture; narrow ones, and rows with padding or spare bits (random bytes
// here), encoded a few MiB at a time; more rows than one write takes; a
// profile after the pixels. The size is told first, and is the file's.
TEST(BmpWriter, WrittenStraightIntoAFileTheBytesAreTheEncodedFilesWhicheverWayTheRowsGo)
{
    const struct {
        TPixelFormat format;
        int width, height;
        bool profile;
        int leastWrites;
    } cases[] = {
        {pf8bit, 1024, 1100, false, 2},  // rows as they are, more than one write takes
        {pf8bit, 100, 7, false, 1},      // as they are, but narrow
        {pf24bit, 1001, 1500, false, 2}, // padded, in more than one buffer
        {pf1bit, 4099, 3, false, 1},     // spare bits
        {pf4bit, 1025, 9, false, 1},
        {pf15bit, 300, 5, false, 1},
        {pf32bit, 600, 20, true, 1},     // as they are, with a profile after them
        {pf24bit, 7, 5, true, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.width << " x " << c.height);
        auto bitmap = MakeBitmap(c.width, c.height, c.format);
        FillRandomBytes(*bitmap, static_cast<std::uint32_t>(c.width + c.height));
        // Whatever the padding holds, the file's is zero.
        const std::size_t used = (static_cast<std::size_t>(c.width) * BitsPerPixel(c.format) + 7) / 8;
        for (int y = 0; y < c.height; ++y) std::memset(bitmap->Row(y) + used, 0xA5, bitmap->BytesPerRow() - used);
        if (c.profile) {
            TPictureMetadata metadata;
            metadata.colourProfile = SwappedRedGreenProfile();
            bitmap->SetMetadata(metadata);
        }
        const QByteArray encoded = EncodeBmp(*bitmap);
        if (c.profile) {
            ASSERT_TRUE(encoded.endsWith(SwappedRedGreenProfile()));
        }
        TKeptFile file;
        WriteBmpStraight(*bitmap, file);
        EXPECT_FALSE(file.writtenBeforeBegin);
        EXPECT_EQ(file.size, std::optional<std::uint64_t>(static_cast<std::uint64_t>(encoded.size())));
        EXPECT_GE(file.writes, c.leastWrites);
        EXPECT_TRUE(file.bytes == encoded) << "the bytes differ";
    }
    // A refusal comes before anything is begun.
    TBitmap empty;
    TKeptFile file;
    EXPECT_THROW(WriteBmpStraight(empty, file), Exception);
    EXPECT_FALSE(file.size.has_value());
    EXPECT_EQ(file.writes, 0);
}

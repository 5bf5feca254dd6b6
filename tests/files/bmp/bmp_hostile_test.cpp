// BMP reading of lying, broken and truncated files: defined pixels or a clear
// refusal, for lying headers, run-length data leaving the picture, bit
// fields of every width, and every layout the fuzzers start from cut at
// every byte.
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/bmp/fax_huffman.h"
#include "support/decoding.h"
#include "support/file_builders.h"
#include "support/pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <random>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

using TRecipe = TBmpRecipe;

// A 1-bit OS/2 picture in the fax code, white first in its palette; rows
// as the file has them, the bottom row first.
TRecipe HuffmanRecipe(TBytes code, std::int32_t width, std::int32_t height)
{
    return {.headerSize = 64, .width = width, .height = height, .bits = 1, .compression = 3,
            .palette = {0xFFFFFF, 0x000000}, .pixels = std::move(code)};
}

QDir Seeds() { return QDir(QStringLiteral(PW_SOURCE_DIR "/fuzz/seeds")); }

// The file opens; cut at any byte, it is refused with a reason while its
// headers are not whole, and after them each pixel is the file's or a
// missing one.
void ExpectEveryCutRefusedInTheHeadersOrOpenedWithTheFilesPixels(const TBytes &whole)
{
    TBitmap full;
    ASSERT_EQ(MessageOf([&] { DecodeBmp(whole, full); }), NoException);
    const TColor missing = HasPalette(full.GetPixelFormat()) ? full.GetPalette()[0] : clBlack;
    const std::size_t pixelsAt = whole[10] | (whole[11] << 8);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        TBitmap cut;
        const std::string reason = MessageOf([&] { DecodeBmp(TBytes(whole.begin(), whole.begin() + static_cast<long>(size)), cut); });
        if (size < pixelsAt) {
            ASSERT_NE(reason, NoException) << "cut at " << size;
            ASSERT_NE(reason, "") << "cut at " << size;
            continue;
        }
        ASSERT_EQ(reason, NoException) << "cut at " << size;
        for (int y = 0; y < full.GetHeight(); ++y)
            for (int x = 0; x < full.GetWidth(); ++x)
                ASSERT_TRUE(cut.GetPixel(x, y) == full.GetPixel(x, y) || cut.GetPixel(x, y) == missing)
                    << "cut at " << size << ", pixel " << x << ", " << y;
    }
}

} // namespace

TEST(BmpHostile, LyingHeadersAreRefusedWithTheirReason)
{
    const struct {
        TRecipe recipe;
        const char *reason;
    } cases[] = {
        {TRecipe{.width = -5}, "the BMP header gives a width of -5 pixels"},
        {TRecipe{.height = 0}, "the BMP header gives a height of 0 pixels"},
        {TRecipe{.height = INT32_MIN}, "the BMP header gives a height of -2147483648 pixels"},
        {TRecipe{.headerSize = 12, .width = 0}, "the BMP header gives a width of 0 pixels"},
        {TRecipe{.planes = 3}, "the BMP header gives 3 colour planes instead of 1"},
        {TRecipe{.bits = 7}, "BMP pictures of 7 bits a pixel are not supported"},
        {TRecipe{.compression = 7}, "BMP compression 7 is not supported"},
        {TRecipe{.bits = 24, .compression = 4}, "the BMP header announces a JPEG picture, but its pixels are not one"},
        {TRecipe{.bits = 24, .compression = 5}, "the BMP header announces a PNG picture, but its pixels are not one"},
        {TRecipe{.bits = 4, .compression = 1}, "the BMP header gives 8-bit run-length compression to a picture of 4 bits a pixel"},
        {TRecipe{.bits = 24, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}},
         "the BMP header gives bit-field masks to a picture of 24 bits a pixel"},
        {TRecipe{.headerSize = 64, .compression = 3}, "the BMP header gives Huffman compression to a picture of 8 bits a pixel"},
        {TRecipe{.headerSize = 0xFFFFFFFF}, "the BMP header size of 4294967295 bytes is not one this program knows"},
        {TRecipe{.pixelsAt = 0xFFFFFFFF}, "the file ends at byte 70, before the pixels its header places at byte 4294967295"},
        {TRecipe{.pixelsAt = 20}, "the BMP header places the pixels at byte 20, inside its own headers"},
        {TRecipe{.colours = 0xFFFFFFFF}, "the BMP header lists 4294967295 palette colours, but the file has room for 2"},
        {TRecipe{.bits = 16, .compression = 3, .masks = {0, 0x3E0, 0x1F}}, "the BMP red mask is empty"},
        {TRecipe{.bits = 16, .compression = 3, .masks = {0x7C00, 0x7E0, 0x1F}},
         "the BMP green mask 0x7E0 overlaps another mask"},
        {TRecipe{.bits = 32, .compression = 3, .masks = {0xF0F000, 0xF00, 0xFF}},
         "the BMP red mask 0xF0F000 is not one run of bits"},
        {TRecipe{.bits = 16, .compression = 3, .masks = {0x1F0000, 0x3E0, 0x1F}},
         "the BMP red mask 0x1F0000 reaches beyond the 16 bits of a pixel"},
        {TRecipe{.headerSize = 56, .bits = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0xFFF00000}},
         "the BMP alpha mask 0xFFF00000 overlaps another mask"},
        // Rows whose size overflows 32 bits, and pictures beyond the size limit.
        {TRecipe{.width = INT32_MAX, .height = 1, .bits = 32}, "this program handles pictures of less than 2048 MiB"},
        {TRecipe{.width = INT32_MAX, .height = INT32_MAX, .bits = 1}, "this program handles pictures of less than 2048 MiB"},
    };
    for (const auto &c : cases) {
        TBitmap bitmap;
        const std::string reason = MessageOf([&] { DecodeBmp(BmpFile(c.recipe), bitmap); });
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.reason << ", got: " << reason;
    }
}

TEST(BmpHostile, ToleratedLiesOpenWithDefinedPixels)
{
    const struct {
        const char *what;
        TRecipe recipe;
        TPixelFormat format;
        std::vector<TColor> colours;   // row 0 (the top) first
        int alpha = 255;               // of the first pixel, in pf32bit
    } cases[] = {
        {"file size field far too large", TRecipe{.pixels = {0, 1, 1, 0, 1, 0, 0, 1}, .fileSize = 0xFFFFFFFF},
         pf8bit, {clWhite, 0, 0, clWhite, 0, clWhite, clWhite, 0}},
        {"indices beyond the palette", TRecipe{.pixels = {200, 1, 0, 255, 0, 0, 0, 0}},
         pf8bit, {0, 0, 0, 0, 0, clWhite, 0, 0}},
        {"pixels cut short", TRecipe{.pixels = {1, 1, 1, 1, 1}},
         pf8bit, {clWhite, 0, 0, 0, clWhite, clWhite, clWhite, clWhite}},
        {"run of 2, delta of one column in the middle of a row, run of 1",
         TRecipe{.compression = 1, .pixels = {2, 1, 0, 2, 1, 0, 1, 1, 0, 1}},
         pf8bit, {0, 0, 0, 0, clWhite, clWhite, 0, clWhite}},
        {"delta up a row, run past the row end, delta past the top",
         TRecipe{.compression = 1, .pixels = {0, 2, 1, 1, 9, 1, 0, 2, 0, 5, 1, 1}},
         pf8bit, {0, clWhite, clWhite, clWhite, 0, 0, 0, 0}},
        {"delta past the right edge, absolute run cut by the file end",
         TRecipe{.compression = 1, .pixels = {0, 2, 200, 0, 2, 1, 0, 0, 0, 5, 1, 1}},
         pf8bit, {clWhite, clWhite, 0, 0, 0, 0, 0, 0}},
        {"4-bit absolute run of 3 bytes and its padding",
         TRecipe{.bits = 4, .compression = 2, .pixels = {0, 5, 0x10, 0x10, 0x10, 0, 0, 0, 2, 0x11, 0, 1}},
         pf8bit, {clWhite, clWhite, 0, 0, clWhite, 0, clWhite, 0}},
        {"16 bits of 3-10-3 bit fields, top row first",
         TRecipe{.height = -2, .bits = 16, .compression = 3, .masks = {0xE000, 0x1FF8, 0x7},
                 .pixels = {0xFF, 0xFF, 0, 0, 0xF8, 0x1F, 0x07, 0, 0x08, 0, 0, 0xE0, 0, 0x10, 0x04, 0}},
         pf24bit, {clWhite, 0, clLime, clBlue, RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 128, 0), RGB(0, 0, 146)}},
        {"5-5-5 with the unused top bit set", TRecipe{.height = 1, .bits = 16, .pixels = {0xFF, 0xFF, 0, 0x80, 0, 0, 0, 0}},
         pf15bit, {clWhite, 0, 0, 0}},
        {"v5 header, no bit fields: 4th byte unused",
         TRecipe{.headerSize = 124, .height = 1, .bits = 32, .masks = {0, 0, 0, 0xFF000000}, .pixels = TBytes(16, 0x40)},
         pf32bit, std::vector<TColor>(4, RGB(64, 64, 64))},
        {"10-10-10-2 bit fields scale exactly, alpha included",
         TRecipe{.headerSize = 56, .width = 1, .height = 1, .bits = 32, .compression = 3,
                 .masks = {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, .pixels = {0x00, 0x00, 0xF8, 0x7F}},
         pf32bit, {RGB(255, 128, 0)}, 85},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap;
        ASSERT_EQ(MessageOf([&] { DecodeBmp(BmpFile(c.recipe), bitmap); }), NoException);
        ASSERT_EQ(bitmap.GetPixelFormat(), c.format);
        for (std::size_t i = 0; i < c.colours.size(); ++i)
            EXPECT_EQ(bitmap.GetPixel(int(i % 4), int(i / 4)), c.colours[i]) << "pixel " << i;
        if (c.format == pf32bit) {
            EXPECT_EQ(bitmap.GetScanline(0)[3], c.alpha);
        }
        if (c.format == pf15bit) {
            EXPECT_EQ(bitmap.GetScanline(0)[1] | bitmap.GetScanline(0)[3], 0x7F) << "unused bit cleared";
        }
    }
}

TEST(BmpHostile, EveryCutAndMutationOpensWithDefinedPixelsOrIsRefused)
{
    std::vector<TBytes> files;
    for (TPixelFormat format : AllPixelFormats) {
        auto picture = MakeBitmap(7, 3, format);
        FillRandomBytes(*picture, 5);
        const QByteArray file = EncodeBmp(*picture);
        files.emplace_back(file.begin(), file.end());
    }
    files.push_back(BmpFile(TRecipe{.compression = 1, .pixels = {3, 1, 0, 3, 2, 0, 1, 0, 0, 1}}));
    files.push_back(BmpFile(TRecipe{.headerSize = 12, .palette = {0xFF0000, 0x00FF00, 0x0000FF}}));
    files.push_back(BmpFile(HuffmanRecipe(FaxCoded({{3, 2, 3}, {0, 5, 1, 2}, {8}}, TFaxRowStart::AfterLastRow), 8, 3)));
    files.push_back(BmpFile(TRecipe{.width = 2, .height = 2, .bits = 64, .palette = {}, .pixels = TBytes(32, 0x11)}));

    for (const TBytes &whole : files) {
        ASSERT_NO_FATAL_FAILURE(ExpectEveryCutRefusedInTheHeadersOrOpenedWithTheFilesPixels(whole));
        // Seeded byte changes in the headers: no crash, and a reason whenever refused.
        std::mt19937 random(static_cast<std::uint32_t>(whole.size()));
        for (int round = 0; round < 300; ++round) {
            TBytes mutated = whole;
            for (int i = 0; i < 3; ++i) mutated[random() % std::min<std::size_t>(mutated.size(), 80)] = static_cast<std::uint8_t>(random());
            TBitmap bitmap;
            EXPECT_NE(MessageOf([&] { DecodeBmp(mutated, bitmap); }), "");
        }
    }
}

TEST(HostileBmp, LiesTheOtherTestsLeaveOutAreRefusedWithTheirReason)
{
    const struct {
        TRecipe bmp;
        const char *reason;
    } cases[] = {
        {TRecipe{.planes = 0}, "the BMP header gives 0 colour planes instead of 1"},
        {TRecipe{.width = 0}, "the BMP header gives a width of 0 pixels"},
        {TRecipe{.headerSize = 41}, "the BMP header size of 41 bytes is not one this program knows"},
        {TRecipe{.bits = 32, .compression = 5}, "the BMP header announces a PNG picture, but its pixels are not one"},
        {TRecipe{.headerSize = 64, .bits = 8, .compression = 4}, "the BMP header gives 24-bit run-length compression to a picture of 8 bits a pixel"},
        {TRecipe{.headerSize = 64, .bits = 32, .compression = 6}, "BMP compression 6 is not supported"},
        {TRecipe{.bits = 24, .compression = 6, .masks = {0xFF0000, 0xFF00, 0xFF, 0}},
         "the BMP header gives bit-field masks to a picture of 24 bits a pixel"},
        {TRecipe{.bits = 8, .compression = 2}, "the BMP header gives 4-bit run-length compression to a picture of 8 bits a pixel"},
        {TRecipe{.bits = 0}, "BMP pictures of 0 bits a pixel are not supported"},
        {TRecipe{.headerSize = 64, .bits = 64}, "BMP pictures of 64 bits a pixel are not supported"},
        {TRecipe{.headerSize = 56, .bits = 64, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0}},
         "the BMP header gives compression 3 to a picture of 64 bits a pixel"},
        {TRecipe{.bits = 64, .compression = 1}, "the BMP header gives compression 1 to a picture of 64 bits a pixel"},
        // Masks after a 40-byte header that the file cuts off.
        {TRecipe{.bits = 16, .compression = 3, .masks = {0x7C00}, .palette = {}, .pixels = {}}, "the file ends before its headers do"},
        {TRecipe{.bits = 16, .compression = 6, .masks = {0x7C00, 0x3E0, 0x1F}, .palette = {}, .pixels = {}},
         "the file ends before its headers do"},
        {TRecipe{.bits = 16, .compression = 3, .masks = {0xF800, 0, 0x1F}, .palette = {}}, "the BMP green mask is empty"},
        {TRecipe{.bits = 16, .compression = 6, .masks = {0xF00, 0xF0, 0xF, 0x1F000}, .palette = {}},
         "the BMP alpha mask 0x1F000 reaches beyond the 16 bits of a pixel"},
        {TRecipe{.headerSize = 56, .bits = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0x7F800000}, .palette = {}},
         "the BMP alpha mask 0x7F800000 overlaps another mask"},
        {TRecipe{.colours = 257, .palette = std::vector<std::uint32_t>(256, 0)},
         "the BMP header lists 257 palette colours, but the file has room for 256"},
        {TRecipe{.width = 0x40000000, .height = 4, .bits = 32, .palette = {}}, "this program handles pictures of less than 2048 MiB"},
        {TRecipe{.width = 3, .height = -0x7FFFFFFF, .bits = 8}, "this program handles pictures of less than 2048 MiB"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        TBitmap bitmap;
        const std::string reason = MessageOf([&] { DecodeBmp(BmpFile(c.bmp), bitmap); });
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_TRUE(bitmap.Empty());
    }
}

TEST(HostileBmp, TolerableLiesAndRunsLeavingThePictureOpenWithDefinedPixels)
{
    std::vector<std::uint32_t> many(300, 0x102030);
    many[255] = 0xFFFFFF;
    const struct {
        const char *what;
        TRecipe bmp;
        std::vector<TColor> colours;   // 4 x 2, the top row first
    } cases[] = {
        {"300 palette entries listed and present: those past 256 unused",
         TRecipe{.colours = 300, .palette = many, .pixels = {255, 0, 0, 255, 0, 0, 0, 0}},
         {RGB(16, 32, 48), RGB(16, 32, 48), RGB(16, 32, 48), RGB(16, 32, 48), clWhite, RGB(16, 32, 48), RGB(16, 32, 48), clWhite}},
        {"pixels placed at the very end of the file", TRecipe{.pixels = {}}, std::vector<TColor>(8, clBlack)},
        {"a gap between the palette and the pixels, no count: the gap is read as palette",
         TRecipe{.palette = {0xFFFFFF}, .pixels = {0, 0, 0, 0, 1, 0, 0, 0}, .gap = 4},
         {RGB(0xEE, 0xEE, 0xEE), clWhite, clWhite, clWhite, clWhite, clWhite, clWhite, clWhite}},
        {"8-bit absolute run longer than the row, then a run on the next row",
         TRecipe{.compression = 1, .pixels = {0, 6, 1, 1, 1, 1, 1, 1, 0, 0, 2, 1, 0, 1}},
         {clWhite, clWhite, 0, 0, clWhite, clWhite, clWhite, clWhite}},
        {"4-bit run longer than the row", TRecipe{.bits = 4, .compression = 2, .pixels = {9, 0x10, 0, 1}},
         {0, 0, 0, 0, clWhite, 0, clWhite, 0}},
        {"4-bit absolute run longer than the row", TRecipe{.bits = 4, .compression = 2, .pixels = {0, 7, 0x01, 0x01, 0x11, 0x10, 0, 1}},
         {0, 0, 0, 0, 0, clWhite, 0, clWhite}},
        {"delta below the picture, then runs that must not land",
         TRecipe{.compression = 1, .pixels = {1, 1, 0, 2, 0, 200, 4, 1, 0, 0, 4, 1}}, {0, 0, 0, 0, clWhite, 0, 0, 0}},
        {"ends of line past the last row, then a run", TRecipe{.compression = 1, .pixels = {0, 0, 0, 0, 0, 0, 4, 1}},
         std::vector<TColor>(8, 0)},
        {"data after the end of the picture is ignored", TRecipe{.compression = 1, .pixels = {2, 1, 0, 1, 4, 1, 4, 1}},
         {0, 0, 0, 0, clWhite, clWhite, 0, 0}},
        {"an escape cut off by the end of the file", TRecipe{.compression = 1, .pixels = {2, 1, 0, 2, 1}},
         {0, 0, 0, 0, clWhite, clWhite, 0, 0}},
        {"1-bit channels in 16 bits", TRecipe{.height = 1, .bits = 16, .compression = 3, .masks = {0x8000, 0x4000, 0x2000}, .palette = {},
                                            .pixels = {0x00, 0xA0, 0x00, 0x40, 0xFF, 0x1F, 0, 0}},
         {RGB(255, 0, 255), RGB(0, 255, 0), 0, 0}},
        {"a 20-bit channel in 32 bits",
         TRecipe{.height = 1, .bits = 32, .compression = 3, .masks = {0xFFFFF000, 0xE00, 0x1FF}, .palette = {},
              .pixels = {0x00, 0x0E, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0, 0}},
         {RGB(128, 255, 0), clWhite, RGB(0, 0, 255), 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap;
        ASSERT_EQ(MessageOf([&] { DecodeBmp(BmpFile(c.bmp), bitmap); }), NoException);
        for (std::size_t i = 0; i < c.colours.size(); ++i)
            EXPECT_EQ(bitmap.GetPixel(int(i % 4), int(i / 4)), c.colours[i]) << "pixel " << i;
    }
}

TEST(HostileBmp, EveryLayoutCutAtEveryByteIsRefusedInItsHeadersOrOpensWithTheFilesPixels)
{
    const QDir seeds = Seeds();
    const QStringList names = seeds.entryList({QStringLiteral("*.bmp")}, QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 40) << seeds.path().toStdString();
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(seeds.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray read = file.readAll();
        const TBytes whole(read.begin(), read.end());
        ASSERT_NO_FATAL_FAILURE(ExpectEveryCutRefusedInTheHeadersOrOpenedWithTheFilesPixels(whole));
    }
}

TEST(BmpHuffman, FaxRowsOpenWhateverTheirAlignmentAndDamageIsRefused)
{
    const struct {
        const char *what;
        const char *bits;
        int width;
        std::vector<int> blacks;   // per row from the top, the black pixels' bits
        int missing = 0;
    } opening[] = {
        // White 3 (1000), black 2 (11), white 3; white 0 (00110101), black 8 (000101).
        {"rows straight after one another", "1000 11 1000  00110101 000101", 8, {0x18, 0xFF}},
        {"each row after an end of line, the second with fill to a byte",
         "000000000001 1000 11 1000  000000 000000000001 00110101 000101", 8, {0x18, 0xFF}},
        {"each row on a new byte", "1000 11 1000 000000  00110101 000101", 8, {0x18, 0xFF}},
        {"the end-of-picture codes after the last row are ignored",
         "1000 11 1000 00110101 000101 000000000001 000000000001 000000000001 1111", 8, {0x18, 0xFF}},
        {"a make-up code and a terminating 0", "00110101 0000001111 0000110111 1000", 64, {-1, -1}, 1},
        {"the data ends inside the second row, in a black code", "1000 11 1000  00110101 000000", 8, {0x18, 0}, 1},
        {"the data ends in the first row's fill", "1000 11 1000 0000", 8, {0x18, 0}, 1},
    };
    for (const auto &c : opening) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap;
        TRowsMissing missing;
        ASSERT_NO_THROW(missing = DecodeBmp(BmpFile(HuffmanRecipe(PackedBits(c.bits), c.width, -2)), bitmap));
        EXPECT_EQ(missing.missing, c.missing);
        ASSERT_EQ(bitmap.GetPixelFormat(), pf1bit);
        EXPECT_EQ(bitmap.GetPalette()[0], clWhite);
        if (c.width == 8) {
            EXPECT_EQ(bitmap.GetScanline(0)[0], c.blacks[0]);
            EXPECT_EQ(bitmap.GetScanline(1)[0], c.blacks[1]);
        }
    }
    {
        // The first row, white 0 then black 64 + 0, is whole; the second
        // has its first 3 pixels (white), then the data ends.
        TBitmap bitmap;
        DecodeBmp(BmpFile(HuffmanRecipe(PackedBits(opening[4].bits), 64, -2)), bitmap);
        for (int x = 0; x < 64; ++x) {
            EXPECT_EQ(bitmap.GetPixel(x, 0), clBlack) << x;
            EXPECT_EQ(bitmap.GetPixel(x, 1), clWhite) << x;
        }
    }

    // Runs of the extended make-up codes, both colours, and runs longer
    // than the longest code: white 1800 (1792 + 8), black 1900 (1856 + 44),
    // then white 6000 as 2560 + 2560 + 832 + 48, then black 4.
    const int wide = 1800 + 1900 + 6000 + 4;
    const std::string bits = std::string("00000001000 10011  00000001100 000001010100 ")
        + "000000011111 000000011111 011010010 00001011  011";
    TBitmap bitmap;
    ASSERT_EQ(DecodeBmp(BmpFile(HuffmanRecipe(PackedBits(bits), wide, 1)), bitmap).missing, 0);
    for (int x : {0, 1799, 1800, 3699, 3700, 9699, 9700, 9703})
        EXPECT_EQ(bitmap.GetPixel(x, 0), (x >= 1800 && x < 3700) || x >= 9700 ? clBlack : clWhite) << x;
    EXPECT_EQ(FaxCoded({{1800, 1900, 6000, 4}}, TFaxRowStart::AfterLastRow), PackedBits(bits));

    // Every layout of many rows of random runs, read back exactly, the
    // bottom row first as the file stores it.
    std::mt19937 random(3);
    std::vector<std::vector<int>> rows;
    for (int y = 0; y < 40; ++y) {
        std::vector<int> runs;
        for (int x = 0; x < 3000;) {
            const int run = std::min<int>(3000 - x, static_cast<int>(random() % (y % 3 ? 20 : 2700)) + (runs.empty() ? 0 : 1));
            runs.push_back(run);
            x += run;
        }
        rows.push_back(runs);
    }
    for (TFaxRowStart start : {TFaxRowStart::AfterLastRow, TFaxRowStart::OnAByte, TFaxRowStart::AfterEndOfLine}) {
        TBitmap read;
        ASSERT_EQ(DecodeBmp(BmpFile(HuffmanRecipe(FaxCoded(rows, start), 3000, 40)), read).missing, 0);
        for (int y = 0; y < 40; ++y) ASSERT_EQ(FaxRuns(read.GetScanline(39 - y), 3000), rows[static_cast<std::size_t>(y)]) << y;
    }

    const struct {
        const char *what;
        const char *bits;
        int width = 8;
    } damaged[] = {
        {"a run past the end of the row: white 3, black 6", "1000 0010 1000 1000 1000 1000"},
        {"a make-up code past the end of the row", "11011 0111 0111 0111 0111"},
        {"bits that are no code: 8 zeros and a 1 inside a row", "1000 000000001 11 1000 1000 1000 1000 1000"},
        // Each code fits the row of 100; together they pass its end.
        {"white 64 + 63", "11011 00110100", 100},
        {"black 64 + 63", "00110101 0000001111 000001100111", 100},
    };
    for (const auto &c : damaged) {
        SCOPED_TRACE(c.what);
        TBitmap refused;
        EXPECT_EQ(MessageOf([&] { DecodeBmp(BmpFile(HuffmanRecipe(PackedBits(c.bits), c.width, 2)), refused); }), Damaged);
        // Refused before a bit is set past the row.
        const auto rowBytes = static_cast<std::ptrdiff_t>(c.width + 7) / 8;
        std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes) + 8, 0);
        EXPECT_THROW(fax::DecodeRows(PackedBits(c.bits), c.width, 1, [&](int) { return row.data(); }), Exception);
        EXPECT_EQ(std::count(row.begin() + rowBytes, row.end(), 0), 8);
    }
}

TEST(Bmp64Bit, LinearFixedPointClampsToOneAndZeroAndGoesThroughTheSrgbCurve)
{
    // B, G, R, A as signed 16-bit values, 8192 being 1.0.
    const std::vector<std::int16_t> samples = {
        8192, 4096, -100, 8192,         // 1.0, 0.5 (sRGB 188), below 0, opaque
        16, 12000, 32767, 2048,         // 0.002 (sRGB 6), beyond 1.0 twice, alpha 0.25
        -32768, 1, 8191, -5,            // the least value, the smallest step (sRGB 0), just under 1.0; alpha below 0
        0, 0, 0, 12000,                 // alpha beyond 1.0
    };
    TBytes pixels;
    for (std::int16_t v : samples) {
        pixels.push_back(static_cast<std::uint8_t>(v));
        pixels.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
    TBitmap bitmap;
    ASSERT_EQ(MessageOf([&] { DecodeBmp(BmpFile(TRecipe{.headerSize = 124, .width = 2, .height = -2, .bits = 64, .palette = {}, .pixels = pixels}), bitmap); }),
              NoException);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf32bit);
    EXPECT_EQ(bitmap.GetAlphaChannel(), TAlphaChannel::Used);
    const std::uint8_t expected[2][8] = {{255, 188, 0, 255, 6, 255, 255, 64}, {0, 0, 255, 0, 0, 0, 0, 255}};
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 8; ++i) EXPECT_EQ(bitmap.GetScanline(y)[i], expected[y][i]) << "row " << y << ", byte " << i;
}

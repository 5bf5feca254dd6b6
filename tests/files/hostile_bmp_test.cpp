// More hostile BMP files: the refusals, tolerated lies, run-length data
// leaving the picture and bit fields of every width that the BMP hostile
// tests leave out, and every layout the fuzzers start from cut at every byte.
#include "platform/files/bmp_codec.h"
#include "support/pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

void Put(TBytes &to, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) to.push_back(i < 8 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0);
}

// A BMP file field by field; every field may lie.
struct TBmp {
    std::uint32_t headerSize = 40;
    std::int32_t width = 4, height = 2;
    std::uint32_t planes = 1, bits = 8, compression = 0, coloursUsed = 0;
    std::vector<std::uint32_t> masks = {};      // after a 40-byte header, else inside the header
    std::vector<std::uint32_t> palette = {0x000000, 0xFFFFFF};
    TBytes pixels = TBytes(8, 1);
    std::size_t gap = 0;                        // bytes between the palette and the pixels
};

TBytes Make(const TBmp &b)
{
    TBytes header;
    Put(header, b.headerSize, 4);
    Put(header, static_cast<std::uint32_t>(b.width), 4);
    Put(header, static_cast<std::uint32_t>(b.height), 4);
    Put(header, b.planes, 2);
    Put(header, b.bits, 2);
    Put(header, b.compression, 4);
    Put(header, 0, 12);
    Put(header, b.coloursUsed, 4);
    Put(header, 0, 4);
    if (b.headerSize > 40)
        for (std::uint32_t mask : b.masks) Put(header, mask, 4);
    header.resize(b.headerSize, 0);
    if (b.headerSize == 40)
        for (std::uint32_t mask : b.masks) Put(header, mask, 4);
    for (std::uint32_t colour : b.palette) Put(header, colour, 4);
    header.resize(header.size() + b.gap, 0xEE);
    TBytes file{'B', 'M'};
    Put(file, 0, 8);
    Put(file, 14 + header.size(), 4);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), b.pixels.begin(), b.pixels.end());
    return file;
}

// The reason DecodeBmp gives, or "" when the file opens.
std::string Refusal(const TBytes &file, TBitmap &into)
{
    try {
        DecodeBmp(file, into);
    } catch (const Exception &error) {
        return error.Message().isEmpty() ? "(an empty reason)" : error.Message().toStdString();
    }
    return {};
}

QDir Seeds() { return QDir(QStringLiteral(PW_SOURCE_DIR "/fuzz/seeds")); }

} // namespace

TEST(HostileBmp, LiesTheOtherTestsLeaveOutAreRefusedWithTheirReason)
{
    const struct {
        TBmp bmp;
        const char *reason;
    } cases[] = {
        {TBmp{.planes = 0}, "the BMP header gives 0 colour planes instead of 1"},
        {TBmp{.width = 0}, "the BMP header gives a width of 0 pixels"},
        {TBmp{.headerSize = 41}, "the BMP header size of 41 bytes is not one this program knows"},
        {TBmp{.bits = 24, .compression = 5}, "BMP files holding a PNG picture are not supported"},
        {TBmp{.headerSize = 64, .bits = 24, .compression = 4}, "BMP pictures with 24-bit run-length compression are not supported"},
        {TBmp{.headerSize = 64, .bits = 32, .compression = 6}, "BMP compression 6 is not supported"},
        {TBmp{.bits = 24, .compression = 6, .masks = {0xFF0000, 0xFF00, 0xFF, 0}},
         "the BMP header gives bit-field masks to a picture of 24 bits a pixel"},
        {TBmp{.bits = 8, .compression = 2}, "the BMP header gives 4-bit run-length compression to a picture of 8 bits a pixel"},
        {TBmp{.bits = 0}, "BMP pictures of 0 bits a pixel are not supported"},
        {TBmp{.bits = 64}, "BMP pictures of 64 bits a pixel are not supported"},
        // Masks after a 40-byte header that the file cuts off.
        {TBmp{.bits = 16, .compression = 3, .masks = {0x7C00}, .palette = {}, .pixels = {}}, "the file ends before its headers do"},
        {TBmp{.bits = 16, .compression = 6, .masks = {0x7C00, 0x3E0, 0x1F}, .palette = {}, .pixels = {}},
         "the file ends before its headers do"},
        {TBmp{.bits = 16, .compression = 3, .masks = {0xF800, 0, 0x1F}, .palette = {}}, "the BMP green mask is empty"},
        {TBmp{.bits = 16, .compression = 6, .masks = {0xF00, 0xF0, 0xF, 0x1F000}, .palette = {}},
         "the BMP alpha mask 0x1F000 reaches beyond the 16 bits of a pixel"},
        {TBmp{.headerSize = 56, .bits = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF, 0x7F800000}, .palette = {}},
         "the BMP alpha mask 0x7F800000 overlaps another mask"},
        {TBmp{.coloursUsed = 257, .palette = std::vector<std::uint32_t>(256, 0)},
         "the BMP header lists 257 palette colours, but the file has room for 256"},
        {TBmp{.width = 0x40000000, .height = 4, .bits = 32, .palette = {}}, "too large"},
        {TBmp{.width = 3, .height = -0x7FFFFFFF, .bits = 8}, "too large"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        TBitmap bitmap;
        EXPECT_NE(Refusal(Make(c.bmp), bitmap).find(c.reason), std::string::npos) << Refusal(Make(c.bmp), bitmap);
        EXPECT_TRUE(bitmap.Empty());
    }
}

TEST(HostileBmp, TolerableLiesAndRunsLeavingThePictureOpenWithDefinedPixels)
{
    std::vector<std::uint32_t> many(300, 0x102030);
    many[255] = 0xFFFFFF;
    const struct {
        const char *what;
        TBmp bmp;
        std::vector<TColor> colours;   // 4 x 2, the top row first
    } cases[] = {
        {"300 palette entries listed and present: those past 256 unused",
         TBmp{.coloursUsed = 300, .palette = many, .pixels = {255, 0, 0, 255, 0, 0, 0, 0}},
         {RGB(16, 32, 48), RGB(16, 32, 48), RGB(16, 32, 48), RGB(16, 32, 48), clWhite, RGB(16, 32, 48), RGB(16, 32, 48), clWhite}},
        {"pixels placed at the very end of the file", TBmp{.pixels = {}}, std::vector<TColor>(8, clBlack)},
        {"a gap between the palette and the pixels, no count: the gap is read as palette",
         TBmp{.palette = {0xFFFFFF}, .pixels = {0, 0, 0, 0, 1, 0, 0, 0}, .gap = 4},
         {RGB(0xEE, 0xEE, 0xEE), clWhite, clWhite, clWhite, clWhite, clWhite, clWhite, clWhite}},
        {"8-bit absolute run longer than the row, then a run on the next row",
         TBmp{.compression = 1, .pixels = {0, 6, 1, 1, 1, 1, 1, 1, 0, 0, 2, 1, 0, 1}},
         {clWhite, clWhite, 0, 0, clWhite, clWhite, clWhite, clWhite}},
        {"4-bit run longer than the row", TBmp{.bits = 4, .compression = 2, .pixels = {9, 0x10, 0, 1}},
         {0, 0, 0, 0, clWhite, 0, clWhite, 0}},
        {"4-bit absolute run longer than the row", TBmp{.bits = 4, .compression = 2, .pixels = {0, 7, 0x01, 0x01, 0x11, 0x10, 0, 1}},
         {0, 0, 0, 0, 0, clWhite, 0, clWhite}},
        {"delta below the picture, then runs that must not land",
         TBmp{.compression = 1, .pixels = {1, 1, 0, 2, 0, 200, 4, 1, 0, 0, 4, 1}}, {0, 0, 0, 0, clWhite, 0, 0, 0}},
        {"ends of line past the last row, then a run", TBmp{.compression = 1, .pixels = {0, 0, 0, 0, 0, 0, 4, 1}},
         std::vector<TColor>(8, 0)},
        {"data after the end of the picture is ignored", TBmp{.compression = 1, .pixels = {2, 1, 0, 1, 4, 1, 4, 1}},
         {0, 0, 0, 0, clWhite, clWhite, 0, 0}},
        {"an escape cut off by the end of the file", TBmp{.compression = 1, .pixels = {2, 1, 0, 2, 1}},
         {0, 0, 0, 0, clWhite, clWhite, 0, 0}},
        {"1-bit channels in 16 bits", TBmp{.height = 1, .bits = 16, .compression = 3, .masks = {0x8000, 0x4000, 0x2000}, .palette = {},
                                            .pixels = {0x00, 0xA0, 0x00, 0x40, 0xFF, 0x1F, 0, 0}},
         {RGB(255, 0, 255), RGB(0, 255, 0), 0, 0}},
        {"a 20-bit channel in 32 bits",
         TBmp{.height = 1, .bits = 32, .compression = 3, .masks = {0xFFFFF000, 0xE00, 0x1FF}, .palette = {},
              .pixels = {0x00, 0x0E, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0, 0, 0, 0}},
         {RGB(128, 255, 0), clWhite, RGB(0, 0, 255), 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap;
        ASSERT_EQ(Refusal(Make(c.bmp), bitmap), "");
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
        TBitmap full;
        ASSERT_EQ(Refusal(whole, full), "");
        const TColor missing = HasPalette(full.GetPixelFormat()) ? full.GetPalette()[0] : clBlack;
        const std::size_t pixelsAt = whole[10] | (whole[11] << 8);
        for (std::size_t size = 0; size < whole.size(); ++size) {
            TBitmap cut;
            const std::string reason = Refusal(TBytes(whole.begin(), whole.begin() + static_cast<long>(size)), cut);
            if (size < pixelsAt) {
                ASSERT_NE(reason, "") << "cut at " << size;
                ASSERT_NE(reason, "(an empty reason)") << "cut at " << size;
                continue;
            }
            ASSERT_EQ(reason, "") << "cut at " << size;
            for (int y = 0; y < full.GetHeight(); ++y)
                for (int x = 0; x < full.GetWidth(); ++x)
                    ASSERT_TRUE(cut.GetPixel(x, y) == full.GetPixel(x, y) || cut.GetPixel(x, y) == missing)
                        << "cut at " << size << ", pixel " << x << ", " << y;
        }
    }
}

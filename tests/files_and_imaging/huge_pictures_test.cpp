// Huge pictures: 100 megapixels open, go through every operation, zoom and
// save; claims beyond the size limit are refused unallocated, with their
// size; and running out of memory anywhere gives a message and loses nothing.
#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"
#include "imaging/pixel_capture.h"
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/picture.h"
#include "platform/files/picture_files.h"
#include "platform/pictures/picture_view.h"
#include "support/disk_files.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <iostream>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Side = 10000;

// The colour of the 4 x 4 block at (bx, by): zoomed to a quarter, each block is one shown pixel.
TColor BlockColour(int bx, int by) { return RGB(bx * 7 & 255, by * 13 & 255, (bx ^ by) & 255); }

void FillBlocks(TBitmap &bitmap)
{
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        std::uint8_t *p = bitmap.Row(y);
        for (int x = 0; x < bitmap.GetWidth(); ++x, p += 3) {
            const TColor c = BlockColour(x / 4, y / 4);
            p[0] = static_cast<std::uint8_t>(GetBValue(c));
            p[1] = static_cast<std::uint8_t>(GetGValue(c));
            p[2] = static_cast<std::uint8_t>(GetRValue(c));
        }
    }
}

QRgb Rgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

// Ends a death test's child: each mismatch on stderr, exit code 0 when there was none.
[[noreturn]] void ExitWith(const std::vector<std::string> &mismatches)
{
    for (const std::string &m : mismatches) std::fprintf(stderr, "%s\n", m.c_str());
    std::fflush(stderr);
    std::_Exit(mismatches.empty() ? 0 : 1);
}

void Expect(std::vector<std::string> &mismatches, const std::string &what, const std::string &got, const std::string &expected)
{
    if (got != expected) mismatches.push_back(what + ": got \"" + got + "\", expected \"" + expected + "\"");
}

QByteArray Bmp(std::int32_t width, std::int32_t height, int bits, int compression, const QByteArray &pixels)
{
    QByteArray b("BM");
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b += char(i < 4 ? v >> (8 * i) : 0);
    };
    const std::uint32_t palette = bits <= 8 ? 4u << bits : 0;
    put(0, 4);
    put(0, 4);
    put(54 + palette, 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(width), 4);
    put(static_cast<std::uint32_t>(height), 4);
    put(1, 2);
    put(static_cast<std::uint32_t>(bits), 2);
    put(static_cast<std::uint32_t>(compression), 4);
    put(0, 20);
    b += QByteArray(static_cast<qsizetype>(palette), '\x40');
    return b + pixels;
}

// An MNG whose header claims a frame of width x height, holding one 1 x 1 grey PNG.
QByteArray MngClaiming(std::uint32_t width, std::uint32_t height)
{
    // Frame size, ticks a second, layers, frames, play time, simplicity.
    QByteArray header = BigEndian32(width) + BigEndian32(height) + BigEndian32(1) + BigEndian32(0) + BigEndian32(0) + BigEndian32(0) + BigEndian32(1);
    return QByteArray("\x8aMNG\r\n\x1a\n", 8) + PngChunk("MHDR", header) +
           PngChunk("IHDR", BigEndian32(1) + BigEndian32(1) + QByteArray("\x08\0\0\0\0", 5)) +
           PngChunk("IDAT", QByteArray("\x78\x9c\x63\x60\0\0\0\x02\0\x01", 10)) + PngChunk("IEND", {}) + PngChunk("MEND", {});
}

// A BMP header with bit-field masks after a 40-byte header, and no pixels.
QByteArray BmpWithMasks(std::int32_t width, int bits, const std::vector<std::uint32_t> &masks)
{
    QByteArray b("BM");
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b += char(i < 4 ? v >> (8 * i) : 0);
    };
    put(0, 4);
    put(0, 4);
    put(54 + 4 * static_cast<std::uint32_t>(masks.size()), 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(width), 4);
    put(1, 4);
    put(1, 2);
    put(static_cast<std::uint32_t>(bits), 2);
    put(masks.size() == 4 ? 6 : 3, 4);
    put(0, 20);
    for (std::uint32_t m : masks) put(m, 4);
    return b;
}

} // namespace

TEST(HugePictures, TenThousandSquareOpensGoesThroughEveryOperationZoomsAndSaves)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.bmp"));
    {
        TBitmap made;
        made.Allocate(Side, Side, pf24bit);
        FillBlocks(made);
        WritePictureFile(path, made);
    }
    TPicture picture;
    picture.LoadFromFile(path);
    TBitmap &bitmap = *picture.GetBitmap();
    ASSERT_EQ(bitmap.GetWidth(), Side);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf24bit);
    const int probes[][2] = {{0, 0}, {Side - 1, 0}, {0, Side - 1}, {Side - 1, Side - 1}, {4321, 8765}, {9998, 17}};
    for (const auto &p : probes) ASSERT_EQ(bitmap.GetPixel(p[0], p[1]), BlockColour(p[0] / 4, p[1] / 4));

    // Zoomed to 25% and 200% (divisors 4 and 0.5), a 688 x 424 area exposed.
    const QImage quarter = RenderPictureView(bitmap, QSize(Side / 4, Side / 4), QRect(1800, 2000, 688, 424));
    ASSERT_EQ(quarter.size(), QSize(688, 424));
    for (int y = 0; y < 424; y += 7)
        for (int x = 0; x < 688; x += 5) ASSERT_EQ(quarter.pixel(x, y), Rgb(BlockColour(1800 + x, 2000 + y))) << x << ", " << y;
    const QImage doubled = RenderPictureView(bitmap, QSize(Side * 2, Side * 2), QRect(19500, 12000, 688, 424));
    ASSERT_EQ(doubled.size(), QSize(500, 424));
    for (int y = 0; y < 424; y += 7)
        for (int x = 0; x < 500; x += 5)
            ASSERT_EQ(doubled.pixel(x, y), Rgb(bitmap.GetPixel((19500 + x) / 2, (12000 + y) / 2))) << x << ", " << y;

    // Each operation twice where twice is the identity; the rest against sample bytes.
    TBitmap original;
    original.Assign(&bitmap);
    Complement(bitmap);
    EXPECT_EQ(bitmap.Row(5000)[123], 255 - original.Row(5000)[123]);
    EXPECT_EQ(bitmap.Row(5000)[Side], original.Row(5000)[Side]) << "only the first Width bytes of a row change";
    Complement(bitmap);
    ASSERT_TRUE(SameBitmap(original, bitmap));
    MirrorLeftRight(bitmap);
    for (const auto &p : probes) EXPECT_EQ(bitmap.GetPixel(Side - 1 - p[0], p[1]), original.GetPixel(p[0], p[1]));
    MirrorLeftRight(bitmap);
    ASSERT_TRUE(SameBitmap(original, bitmap));
    EdgeDetection(bitmap);
    for (const auto &p : probes) {
        const int x = p[0], y = p[1];
        const auto at = [&](int dx, int dy) { return int(original.Row((y + dy + Side) % Side)[(x + dx + Side) % Side]); };
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (dx || dy) sum += at(dx, dy);
        EXPECT_EQ(bitmap.Row(y)[x], std::clamp(8 * at(0, 0) - sum, 0, 255)) << x << ", " << y;
    }
    bitmap.Assign(&original);
    CapturePixels(bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf8bit);
    for (const auto &p : probes) {
        if (p[0] < 512 && p[1] < 512) {
            EXPECT_EQ(PixelTable[p[0]][p[1]], static_cast<int>(bitmap.GetPixel(p[0], p[1])));
        }
    }
    EXPECT_EQ(PixelTable[511][511], static_cast<int>(bitmap.GetPixel(511, 511)));

    const QString saved = dir.filePath(QStringLiteral("processed.bmp"));
    picture.SaveToFile(saved);
    TBitmap back;
    ReadPictureFile(saved, back);
    EXPECT_TRUE(SameBitmap(bitmap, back));
}

// Rows near 2 GiB, in every form a BMP row can take: each width up to
// INT_MAX opens when its row and picture fit strictly under the limit, and
// gets the size message otherwise; nothing in between computes a row size
// that wraps. The files hold headers only, so the pixels stay untouched zero
// pages.
TEST(HugePictures, EveryWidthUpToIntMaxInEveryBmpFormOpensOrGetsTheSizeMessage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wide.bmp"));
    const struct {
        const char *form;
        int ourBits;
        std::function<QByteArray(std::int32_t)> header;
    } forms[] = {
        {"1-bit", 1, [](std::int32_t w) { return Bmp(w, 1, 1, 0, {}); }},
        {"2-bit", 8, [](std::int32_t w) { return Bmp(w, 1, 2, 0, {}); }},
        {"4-bit", 8, [](std::int32_t w) { return Bmp(w, 1, 4, 0, {}); }},
        {"8-bit", 8, [](std::int32_t w) { return Bmp(w, 1, 8, 0, {}); }},
        {"RLE8", 8, [](std::int32_t w) { return Bmp(w, 1, 8, 1, QByteArray("\0\1", 2)); }},
        {"RLE4", 8, [](std::int32_t w) { return Bmp(w, 1, 4, 2, QByteArray("\0\1", 2)); }},
        {"16-bit 5-5-5", 16, [](std::int32_t w) { return Bmp(w, 1, 16, 0, {}); }},
        {"16-bit 5-6-5", 16, [](std::int32_t w) { return BmpWithMasks(w, 16, {0xF800, 0x07E0, 0x001F}); }},
        {"16-bit 4-4-4", 24, [](std::int32_t w) { return BmpWithMasks(w, 16, {0x0F00, 0x00F0, 0x000F}); }},
        {"16-bit with alpha", 32, [](std::int32_t w) { return BmpWithMasks(w, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}); }},
        {"24-bit", 24, [](std::int32_t w) { return Bmp(w, 1, 24, 0, {}); }},
        {"32-bit", 32, [](std::int32_t w) { return Bmp(w, 1, 32, 0, {}); }},
        {"32-bit with alpha", 32, [](std::int32_t w) { return BmpWithMasks(w, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}); }},
    };
    constexpr std::int64_t Limit = std::int64_t(1) << 31;
    for (const auto &f : forms) {
        // The widest row below 2 GiB, and the widths whose row reaches it.
        const std::int64_t widest = std::min<std::int64_t>(INT_MAX, (Limit - 4) * 8 / f.ourBits);
        std::vector<std::int64_t> widths = {widest - 1, widest, widest + 1, widest + 2, widest + 32 / f.ourBits + 1,
                                            INT_MAX - 2, INT_MAX - 1, INT_MAX};
        for (std::int64_t w : widths) {
            if (w > INT_MAX) continue;
            const int width = static_cast<int>(w);
            PutFile(path, f.header(width));
            TPicture picture;
            const std::string message = MessageOf([&] { picture.LoadFromFile(path); });
            const std::string what = std::string(f.form) + " at width " + std::to_string(width);
            if (w <= widest) {
                // Run-length data ends with its own end code; rows lack their pixels.
                const std::string lacking = QStringLiteral("The file %1 ends early: 1 of its 1 rows are missing. The rows it holds are shown.")
                                                .arg(QuotedPath(path)).toStdString();
                EXPECT_EQ(message, std::string(f.form).starts_with("RLE") ? NoException : lacking) << what;
                EXPECT_EQ(picture.GetWidth(), width) << what << ": " << message;
                EXPECT_EQ(picture.GetBitmap()->BytesPerRow(), TBitmap::RowBytes(width, picture.GetBitmap()->GetPixelFormat())) << what;
                EXPECT_LT(picture.GetBitmap()->ImageBytes(), TBitmap::MaxPixelBytes) << what;
            } else {
                EXPECT_EQ(picture.GetWidth(), 0) << what;
                const std::int64_t mib = ((w * f.ourBits + 31) / 32 * 4 + (1 << 20) - 1) >> 20;
                EXPECT_EQ(message, QStringLiteral("Cannot open %1: the picture is %2 x 1 pixels, which would take %3 MiB; "
                                                  "this program handles pictures of less than 2048 MiB")
                                       .arg(QuotedPath(path)).arg(width).arg(mib).toStdString())
                    << what;
            }
        }
    }
}

TEST(HugePicturesDeathTest, ClaimsBeyondTheLimitAreRefusedWithTheirSizeBeforeAnythingLargeIsAllocated)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString tail = QStringLiteral("; this program handles pictures of less than 2048 MiB");
    struct Case {
        const char *name;
        QByteArray bytes;
        QString reason;
    };
    // Files too small for what they claim: a progressive grey JPEG of 3 KB
    // claiming 46000 x 46000 (2018 MiB, and twice that in coefficients), a
    // baseline one patched to 2000 x 2000, a PNG holding one row of 900
    // megapixels.
    QImage grey(64, 64, QImage::Format_Grayscale8);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) grey.setPixel(x, y, qRgb(x * 4, x * 4, x * 4) ^ (y * 0x030303));
    const QByteArray progressive = WrittenByQt(grey, "jpeg", -1, TJpegScans::Progressive);
    const QByteArray baseline = EncodePicture(*MakeBitmap(16, 8, pf24bit), TPictureFileFormat::Jpeg);
    const QByteArray oneRow = PngClaiming(30000, 30000, 8, 0);
    const auto lying = [](const char *format, int side, qsizetype holds, qsizetype least) {
        return QStringLiteral("the header claims %1 x %1 pixels, but the file holds %2 bytes of picture data, and even the most "
                              "compressed %3 picture of that size takes %4 bytes")
            .arg(side).arg(holds).arg(QLatin1String(format)).arg(least);
    };
    std::vector<Case> cases = {
        {"lying.jpg", JpegClaiming(progressive, 46000, 46000), lying("JPEG", 46000, JpegEntropyBytes(progressive), (5750 * 5750 + 7) / 8)},
        {"patched.jpg", JpegClaiming(baseline, 2000, 2000), lying("JPEG", 2000, JpegEntropyBytes(baseline), (2 * (62500 + 2 * 15625) + 7) / 8)},
        {"lying.png", oneRow, lying("PNG", 30000, 9, 30000 * 30000 / 1032)},
        {"rgb.bmp", Bmp(100000, 100000, 24, 0, QByteArray(64, '\x11')),
         QStringLiteral("the picture is 100000 x 100000 pixels, which would take 28611 MiB") + tail},
        {"rle.bmp", Bmp(50000, -50000, 8, 1, QByteArray("\x10\x01\0\1", 4)),
         QStringLiteral("the picture is 50000 x 50000 pixels, which would take 2385 MiB") + tail},
        {"big.png", PngClaiming(100000, 100000), QStringLiteral("the picture is 100000 x 100000 pixels, which would take 28611 MiB") + tail},
        // A GIF's indices take a byte a pixel while it decodes.
        {"big.gif", GifClaiming(60000, 60000), QStringLiteral("the picture is 60000 x 60000 pixels, which would take 3434 MiB") + tail},
        {"big.jpg", JpegClaiming(baseline, 60000, 60000), QStringLiteral("the picture is 60000 x 60000 pixels, which would take 10300 MiB") + tail},
        {"big.pgm", QByteArray("P5 100000 100000 255\n") + QByteArray(64, 'x'),
         QStringLiteral("the picture is 100000 x 100000 pixels, which would take 9537 MiB") + tail},
        // Interlaced: its 16-bit RGBA samples are decoded whole before the rows are.
        {"interlaced.png", PngClaiming(10000, 10000, 16, 6, QByteArray(1, '\0'), TInterlacing::Adam7),
         QStringLiteral("the picture is 10000 x 10000 pixels; opening this PNG picture would take about 1114 MiB "
                        "of memory, more than the 828 MiB this program allows for a picture of 287 MiB")},
    };
    if (QImageReader::supportedImageFormats().contains("mng"))
        cases.push_back({"wide.mng", MngClaiming(20000, 20000),
                         QStringLiteral("the picture is 20000 x 20000 pixels; opening this MNG picture would take about "
                                        "2767 MiB of memory, more than the 2544 MiB this program allows for a picture of 1145 MiB")});
    else
        std::cout << "Qt's MNG plugin is not installed: the MNG claim is left out\n";
    for (const auto &c : cases) PutFile(dir.filePath(QLatin1String(c.name)), c.bytes);
    const auto refuseAll = [&] {
            // Qt's image plugins load before the limit: loading them is not what is tested.
            for (const auto &c : cases) MessageOf([&] { TBitmap b; ReadPictureFile(dir.filePath(QLatin1String(c.name)), b); });
            if (!LimitAddressSpace(std::size_t(64) << 20)) std::_Exit(2);
            std::vector<std::string> mismatches;
            for (const auto &c : cases) {
                const QString path = dir.filePath(QLatin1String(c.name));
                TBitmap bitmap;
                Expect(mismatches, c.name, MessageOf([&] { ReadPictureFile(path, bitmap); }),
                       QStringLiteral("Cannot open %1: %2").arg(QuotedPath(path), c.reason).toStdString());
            }
            ExitWith(mismatches);
    };
    EXPECT_EXIT(refuseAll(), testing::ExitedWithCode(0), "");
}

// A file that ends early takes the picture's memory and little more, its
// missing rows never filled in: a TIFF of 480 KB claiming 20000 x 20000 in
// strips of 16 bytes for rows of 20000 opens with every row missing within
// the picture's 381 MiB and 64 MiB besides.
TEST(HugePicturesDeathTest, AFileThatEndsEarlyTakesThePictureAndLittleMore)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    TTiffRecipe recipe;
    recipe.width = recipe.height = 20000, recipe.rowsPerStrip = 1;
    recipe.strips.assign(20000, QByteArray(16, '\x7F'));
    const QString path = dir.filePath(QStringLiteral("tiny.tif"));
    PutFile(path, HandMadeTiff(recipe));
    const auto openShort = [&] {
        if (!LimitAddressSpace(std::size_t(400000000) + (std::size_t(64) << 20))) std::_Exit(2);
        std::vector<std::string> mismatches;
        TBitmap bitmap;
        Expect(mismatches, "tiny.tif", MessageOf([&] { ReadPictureFile(path, bitmap); }),
               QStringLiteral("The file %1 ends early: 20000 of its 20000 rows are missing. The rows it holds are shown.").arg(QuotedPath(path)).toStdString());
        if (bitmap.GetWidth() != 20000 || bitmap.Row(19999)[19999] != 0) mismatches.push_back("tiny.tif: not the blank picture");
        ExitWith(mismatches);
    };
    EXPECT_EXIT(openShort(), testing::ExitedWithCode(0), "");
}

TEST(HugePicturesDeathTest, RunningOutOfMemoryAnywhereGivesAMessageAndKeepsThePicture)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    // A small file claiming 8000 x 8000 (61 MiB), and a whole one of that size.
    const QString claiming = dir.filePath(QStringLiteral("claiming.bmp"));
    PutFile(claiming, Bmp(8000, 8000, 8, 0, QByteArray(100, '\x01')));
    const QString whole = dir.filePath(QStringLiteral("whole.bmp"));
    {
        TBitmap made;
        made.Allocate(8000, 8000, pf8bit);
        WritePictureFile(whole, made);
    }
    // Rows of 4 bits an index are not the bitmap's: the file is read whole first.
    const QString wholeToDecode = dir.filePath(QStringLiteral("whole4.bmp"));
    PutFile(wholeToDecode, Bmp(8000, 8000, 4, 0, QByteArray(4000 * 8000, '\x11')));
    const auto shown = MakeBitmap(20, 10, pf8bit);
    FillRandomBytes(*shown, 3);
    const QString streamed = dir.filePath(QStringLiteral("saved.bmp"));

    const auto runShort = [&] {
            TPicture picture;
            picture.GetBitmap()->Assign(shown.get());
            TBitmap large, kept;
            large.Allocate(6000, 6000, pf24bit);
            FillRandomBytes(large, 4);
            kept.Assign(&large);
            if (!LimitAddressSpace(std::size_t(8) << 20)) std::_Exit(2);
            std::vector<std::string> mismatches;
            const auto expectKept = [&](const char *what, const TBitmap &before, const TBitmap &after) {
                if (!SameBitmap(before, after)) mismatches.push_back(std::string(what) + ": the picture changed");
            };

            Expect(mismatches, "open a small file claiming much", MessageOf([&] { picture.LoadFromFile(claiming); }),
                   QStringLiteral("Cannot open %1: not enough memory for a picture of 8000 x 8000 pixels (62 MiB)").arg(QuotedPath(claiming)).toStdString());
            expectKept("open a small file claiming much", *shown, *picture.GetBitmap());
            // Its rows are read straight into the picture, which is what cannot be had.
            Expect(mismatches, "open a large file", MessageOf([&] { picture.LoadFromFile(whole); }),
                   QStringLiteral("Cannot open %1: not enough memory for a picture of 8000 x 8000 pixels (62 MiB)").arg(QuotedPath(whole)).toStdString());
            expectKept("open a large file", *shown, *picture.GetBitmap());
            Expect(mismatches, "open a large file read whole", MessageOf([&] { picture.LoadFromFile(wholeToDecode); }),
                   QStringLiteral("Cannot open %1: there is not enough memory to read the file").arg(QuotedPath(wholeToDecode)).toStdString());
            expectKept("open a large file read whole", *shown, *picture.GetBitmap());

            Expect(mismatches, "thresholding", MessageOf([&] { CapturePixels(large); }),
                   "not enough memory for a picture of 6000 x 6000 pixels (35 MiB)");
            expectKept("thresholding", kept, large);
            Expect(mismatches, "conversion", MessageOf([&] { large.SetPixelFormat(pf32bit); }),
                   "not enough memory for a picture of 6000 x 6000 pixels (138 MiB)");
            expectKept("conversion", kept, large);
            TBitmap copy;
            Expect(mismatches, "copy", MessageOf([&] { copy.Assign(&large); }), "not enough memory to copy a picture of 6000 x 6000 pixels");
            // A format encoded whole before it is written cannot be.
            const QString encoded = dir.filePath(QStringLiteral("saved.ppm"));
            Expect(mismatches, "save", MessageOf([&] { WritePictureFile(encoded, large); }),
                   QStringLiteral("Cannot save %1: there is not enough memory to encode the picture").arg(QuotedPath(encoded)).toStdString());
            if (QFile::exists(encoded)) mismatches.push_back("save: a file was left behind");
            // What needs little memory still works: a BMP written as it is
            // encoded, straight from the rows, viewing, and operations in place.
            Expect(mismatches, "save as it is encoded", MessageOf([&] { WritePictureFile(streamed, large); }), NoException);
            // Its headers and 6000 rows of 18000 bytes.
            if (QFileInfo(streamed).size() != 54 + qint64(18000) * 6000) mismatches.push_back("save as it is encoded: the file is not whole");
            if (RenderPictureView(large, QSize(1500, 1500), QRect(0, 0, 688, 424)).size() != QSize(688, 424))
                mismatches.push_back("the view of the picture is not rendered");
            Complement(large);
            Complement(large);
            expectKept("complement twice", kept, large);
            ExitWith(mismatches);
    };
    EXPECT_EXIT(runShort(), testing::ExitedWithCode(0), "");
}

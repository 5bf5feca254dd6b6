// Hostile PNG, GIF, JPEG, PGM and TIFF files through Qt's readers: cut at
// every byte, lying about their size, or decompressing to far more than
// they hold. Each opens with defined pixels or is refused with its reason.
#include "platform/files/picture_files.h"
#include "platform/files/qt/qt_codec.h"
#include "support/decoding.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace {

// Replaces the value of a tag in a little-endian TIFF's first directory.
QByteArray TiffWith(QByteArray tiff, int tag, std::uint32_t value)
{
    const auto u16 = [&](qsizetype at) { return std::uint8_t(tiff[at]) | std::uint8_t(tiff[at + 1]) << 8; };
    const qsizetype directory = std::uint8_t(tiff[4]) | std::uint8_t(tiff[5]) << 8 | std::uint8_t(tiff[6]) << 16;
    for (int i = 0; i < u16(directory); ++i) {
        const qsizetype entry = directory + 2 + 12 * i;
        if (u16(entry) != tag) continue;
        // One value of type SHORT (3) or LONG (4), held in the entry itself.
        tiff[entry + 2] = 4;
        for (int b = 0; b < 4; ++b) tiff[entry + 8 + b] = char(value >> (8 * b));
        return tiff;
    }
    ADD_FAILURE() << "no tag " << tag;
    return tiff;
}

} // namespace

// One rule for files that end early, whatever their format: a cut at any
// byte gives the rows from the top the file holds, the rest blank, as many
// as the reader says are missing; or it is refused with a reason. The
// formats our own readers read show the rows they hold for some cuts.
TEST(HostileQtFiles, EveryCutOpensWithTheRowsItHoldsOrIsRefusedWithAReason)
{
    PngRecipe interlaced;
    interlaced.width = 11, interlaced.height = 9, interlaced.interlaced = true;
    interlaced.sample = [](int x, int y, int c) { return unsigned(x * 23 + y * 7 + c * 91) & 255; };
    QImage image(24, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 24; ++x) image.setPixel(x, y, qRgb(x * 10, y * 5, (x ^ y) * 8));
    const QByteArray progressive = WrittenByQt(image, "jpeg", -1, TJpegScans::Progressive);
    // Its last sample a single digit: a number cut where the data ends
    // cannot be told from a whole one, and the last is taken.
    QByteArray plainPgm = "P2\n9 5\n200\n";
    for (int i = 0; i < 44; ++i) plainPgm += QByteArray::number(i * 37 % 201) + (i % 9 == 8 ? '\n' : ' ');
    plainPgm += "7\n";
    // A progressive file cut after some scans shows the picture those
    // scans give, and cut inside a scan the rows that scan reached: the
    // reference is the file with the scan the cut is in, then its end.
    const auto scansUpTo = [&](qsizetype size) {
        // The start of the segment the cut is in, or past the scan's data
        // when the cut is in it.
        qsizetype upTo = 0, dataFrom = progressive.size();
        for (qsizetype at = progressive.indexOf(QByteArray("\xFF\xDA", 2)); at >= 0 && at + 1 < progressive.size(); ++at) {
            const auto marker = std::uint8_t(progressive[at + 1]);
            if (std::uint8_t(progressive[at]) != 0xFF || marker == 0 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) continue;
            if (at >= size) {
                if (size > dataFrom) upTo = at;
                break;
            }
            upTo = at;
            dataFrom = marker == 0xDA && at + 3 < progressive.size() ? at + 2 + (std::uint8_t(progressive[at + 2]) << 8 | std::uint8_t(progressive[at + 3]))
                                                                     : progressive.size();
        }
        return progressive.left(upTo) + QByteArray("\xFF\xD9", 2);
    };
    const auto wholeFile = [](const QByteArray &file) { return [file](qsizetype) { return file; }; };
    const struct {
        const char *what;
        QByteArray file;
        bool rowsShown;   // some cut shows rows with others missing
        std::function<QByteArray(qsizetype)> reference = {};
    } files[] = {
        {"PNG, 24 bits", EncodePicture(*Noise(9, 5, pf24bit, 1), TPictureFileFormat::Png), true},
        {"PNG, palette", EncodePicture(*Noise(9, 5, pf4bit, 2), TPictureFileFormat::Png), true},
        {"PNG, alpha", EncodePicture(*Noise(6, 4, pf32bit, 3), TPictureFileFormat::Png), true},
        {"PNG, interlaced", MakePng(interlaced), true},
        {"JPEG", EncodePicture(*Noise(16, 8, pf24bit, 4), TPictureFileFormat::Jpeg), false},
        {"JPEG, progressive", progressive, true, scansUpTo},
        {"GIF", GifClaiming(4, 3, 0, 0, 4, 3), false},
        {"PBM", EncodePicture(*Noise(13, 3, pf1bit, 5), TPictureFileFormat::Pbm), true},
        {"PGM", EncodePicture(*Noise(9, 5, pf8bit, 6), TPictureFileFormat::Pgm), true},
        {"PGM, plain", plainPgm, true},
        {"PPM", EncodePicture(*Noise(9, 5, pf24bit, 7), TPictureFileFormat::Ppm), true},
        {"TIFF", EncodePicture(*Noise(9, 5, pf24bit, 8), TPictureFileFormat::Tiff), false},
        {"WebP", EncodePicture(*Noise(9, 5, pf24bit, 9), TPictureFileFormat::Webp), false},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.what);
        TBitmap whole;
        ASSERT_EQ(MessageOf([&] { DecodePicture(Bytes(f.file), whole); }), NoException);
        const auto reference = f.reference ? f.reference : wholeFile(f.file);
        int rowsShown = 0;
        for (qsizetype size = 1; size < f.file.size(); ++size) {
            TBitmap cut, expected;
            TRowsMissing missing;
            const std::string reason = MessageOf([&] { missing = DecodePicture(Bytes(f.file.left(size)), cut); });
            if (reason == NoException) {
                ASSERT_EQ(MessageOf([&] { DecodePicture(Bytes(reference(size)), expected); }), NoException) << "cut at " << size;
                ASSERT_TRUE(HoldsTheFirstRowsOf(cut, expected, missing)) << "cut at " << size << " opens with other pixels, " << missing.missing << " rows missing";
                rowsShown += missing.missing > 0 && missing.missing < missing.rows;
            } else {
                ASSERT_NE(reason, "") << "cut at " << size;
            }
        }
        if (f.rowsShown) {
            EXPECT_GT(rowsShown, 0) << "no cut shows the rows it holds";
        }
    }
}

TEST(HostileQtFiles, FilesLyingAboutTheirSizeAreRefusedWithTheirReasonOrOpenWithDefinedPixels)
{
    const QByteArray jpeg = EncodePicture(*Noise(16, 8, pf24bit, 4), TPictureFileFormat::Jpeg);
    const QByteArray tiff = EncodePicture(*Noise(9, 5, pf24bit, 8), TPictureFileFormat::Tiff);
    const QByteArray row(4, '\0');
    // One row of 30000 zero bytes and its filter byte, compressed: what the
    // file holds of its 900 megapixels.
    const qsizetype oneRow = qCompress(QByteArray(30001, '\0'), 9).size() - 4;
    const struct {
        const char *what;
        QByteArray file;
        std::string outcome;   // the reason, or NoException when it opens
    } cases[] = {
        {"PNG of width 0", PngClaiming(0, 4, 8, 0, row), Damaged},
        {"PNG wider than its reader takes", PngClaiming(3000000, 1, 1, 0, QByteArray(375001, '\0')), Damaged},
        {"PNG of bit depth 7", PngClaiming(3, 1, 7, 0, row), Damaged},
        {"PNG of a palette it lacks", PngClaiming(3, 1, 8, 3, row), Damaged},
        {"PNG claiming 900 megapixels, holding one row", PngClaiming(30000, 30000, 8, 0, QByteArray(30001, '\0')),
         QStringLiteral("the header claims 30000 x 30000 pixels, but the file holds %1 bytes of picture data, and even the most "
                        "compressed PNG picture of that size takes 872093 bytes").arg(oneRow).toStdString()},
        {"JPEG claiming 60000 x 60000", JpegClaiming(jpeg, 60000, 60000),
         "the picture is 60000 x 60000 pixels, which would take 10300 MiB; this program handles pictures of less than 2048 MiB"},
        {"JPEG of height 0", JpegClaiming(jpeg, 16, 0), Damaged},
        {"GIF screen of 60000 x 60000, frame of 1 x 1", GifClaiming(60000, 60000, 0, 0, 1, 1),
         "the picture is 60000 x 60000 pixels, which would take 3434 MiB; this program handles pictures of less than 2048 MiB"},
        {"GIF frame larger than its screen", GifClaiming(4, 3, 0, 0, 60000, 60000), NoException},
        {"GIF frame outside its screen", GifClaiming(4, 3, 60000, 60000, 4, 3), NoException},
        {"PGM of maximum 0", QByteArray("P5 4 4 0\n") + QByteArray(16, '\1'), Damaged},
        {"PGM of maximum 70000", QByteArray("P5 2 2 70000\n") + QByteArray(8, '\1'), Damaged},
        {"PGM of width 0", QByteArray("P5 0 4 255\n") + QByteArray(16, '\1'), Damaged},
        {"PGM of width -4", QByteArray("P5 -4 4 255\n") + QByteArray(16, '\1'), Damaged},
        {"PGM with values above its maximum", QByteArray("P2 2 2 255\n300 1 2 3\n"), NoException},
        {"TIFF 2^31 - 1 pixels wide", TiffWith(tiff, 256, 0x7FFFFFFF),
         "the picture is 2147483647 x 5 pixels, which would take 30720 MiB; this program handles pictures of less than 2048 MiB"},
        // Every row missing, as the file ends before them.
        {"TIFF whose strips lie beyond the file", TiffWith(tiff, 273, 0xFFFFFF00), NoException},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto kept = Noise(3, 2, pf8bit, 10);
        TBitmap bitmap;
        bitmap.Assign(kept.get());
        EXPECT_EQ(MessageOf([&] { DecodePicture(Bytes(c.file), bitmap); }), c.outcome);
        if (c.outcome != NoException) {
            EXPECT_TRUE(SameBitmap(*kept, bitmap));
        } else {
            EXPECT_FALSE(bitmap.Empty());
        }
    }
}

TEST(HostileQtFiles, ADecompressionBombWithinTheLimitOpensWhole)
{
    // 80 KiB of PNG that holds 625 megapixels of 1 bit: Qt counts them at
    // 32 bits a pixel, beyond the 2048 MiB our own limit gives.
    const int side = 25000;
    QByteArray rows(qsizetype(side) * (side / 8 + 1), '\0');
    const QByteArray bomb = PngClaiming(side, side, 1, 0, rows);
    rows.clear();
    ASSERT_LT(bomb.size(), 200 * 1024);
    TBitmap bitmap;
    ASSERT_EQ(MessageOf([&] { DecodePicture(Bytes(bomb), bitmap); }), NoException);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf1bit);
    ASSERT_EQ(bitmap.GetWidth(), side);
    ASSERT_EQ(bitmap.GetHeight(), side);
    // Every pixel black, whichever index Qt gives black.
    const std::uint8_t black = bitmap.GetPalette()[0] == clBlack ? 0x00 : 0xFF;
    EXPECT_EQ(bitmap.GetPalette()[black & 1], clBlack);
    for (int y = 0; y < side; ++y) {
        const std::uint8_t *row = bitmap.Row(y);
        ASSERT_TRUE(std::all_of(row, row + side / 8, [&](std::uint8_t b) { return b == black; })) << "row " << y;
    }
}

// BMP reading: the public suite's good files against their reference
// renderings, embedded streams, OS/2's 24-bit runs and Huffman code, and
// 64-bit linear pixels.
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/bmp/fax_huffman.h"
#include "platform/files/picture_codecs.h"
#include "support/decoding.h"
#include "support/file_builders.h"
#include "support/pictures.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

struct TSuiteFile {
    const char *name;
    const char *reference;   // as html/bmpsuite.html pairs them
    TPixelFormat format;
};

const TSuiteFile SuiteFiles[] = {
    {"pal1", "pal1", pf1bit}, {"pal1wb", "pal1", pf1bit}, {"pal1bg", "pal1bg", pf1bit},
    {"pal4", "pal4", pf8bit}, {"pal4gs", "pal4gs", pf8bit}, {"pal4rle", "pal4", pf8bit},
    {"pal8", "pal8", pf8bit}, {"pal8-0", "pal8", pf8bit}, {"pal8gs", "pal8gs", pf8bit},
    {"pal8rle", "pal8", pf8bit}, {"pal8w126", "pal8w126", pf8bit}, {"pal8w125", "pal8w125", pf8bit},
    {"pal8w124", "pal8w124", pf8bit}, {"pal8topdown", "pal8", pf8bit}, {"pal8os2", "pal8", pf8bit},
    {"pal8v4", "pal8", pf8bit}, {"pal8v5", "pal8", pf8bit},
    // The editor's rendering: pixels as stored, not stretched to square.
    {"pal8nonsquare", "pal8nonsquare-e", pf8bit},
    {"rgb16", "rgb16", pf15bit}, {"rgb16bfdef", "rgb16", pf15bit}, {"rgb16-565", "rgb16-565", pf16bit},
    {"rgb16-565pal", "rgb16-565", pf16bit}, {"rgb24", "rgb24", pf24bit}, {"rgb24pal", "rgb24", pf24bit},
    {"rgb32", "rgb24", pf32bit}, {"rgb32bfdef", "rgb24", pf32bit}, {"rgb32bf", "rgb24", pf32bit},
};

} // namespace

TEST(BmpSuite, EveryGoodFileOpensInItsFormatWithTheReferenceColoursAndSavesUnchanged)
{
    SKIP_WITHOUT_CORPORA(corpora);
    const QString suite = corpora + QStringLiteral("/bmpsuite-good/");
    std::set<QString> listed;
    for (const TSuiteFile &file : SuiteFiles) {
        SCOPED_TRACE(file.name);
        listed.insert(QString::fromLatin1(file.name) + QStringLiteral(".bmp"));
        QFile bmp(suite + QStringLiteral("g/%1.bmp").arg(QLatin1String(file.name)));
        const QByteArray data = bmp.open(QIODevice::ReadOnly) ? bmp.readAll() : QByteArray();
        ASSERT_FALSE(data.isEmpty());
        TBitmap bitmap;
        ASSERT_NO_THROW(DecodeBmp(Bytes(data), bitmap));
        EXPECT_EQ(bitmap.GetPixelFormat(), file.format);

        // Colour channels only: alpha is the one thing a reference may render differently.
        const QImage reference = QImage(suite + QStringLiteral("html/%1.png").arg(QLatin1String(file.reference)))
                                     .convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(reference.isNull());
        ASSERT_EQ(bitmap.GetWidth(), reference.width());
        ASSERT_EQ(bitmap.GetHeight(), reference.height());
        int wrong = 0;
        for (int y = 0; y < reference.height(); ++y)
            for (int x = 0; x < reference.width(); ++x) {
                const QRgb expected = reference.pixel(x, y);
                if (bitmap.GetPixel(x, y) != RGB(qRed(expected), qGreen(expected), qBlue(expected)) && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << x << ", " << y << " is " << std::hex << bitmap.GetPixel(x, y)
                                  << ", the reference " << (expected & 0xFFFFFF);
            }
        EXPECT_EQ(wrong, 0);

        TBitmap reopened;
        ASSERT_NO_THROW(DecodeBmp(Bytes(EncodeBmp(bitmap)), reopened));
        EXPECT_TRUE(SameBitmap(bitmap, reopened));
    }
    // A file added to the suite without an entry here would go untested.
    for (const QString &name : QDir(suite + QStringLiteral("g")).entryList({QStringLiteral("*.bmp")}))
        EXPECT_TRUE(listed.count(name)) << name.toStdString() << " has no entry in SuiteFiles";
}

namespace {

// A BMP whose pixels are a whole JPEG (compression 4) or PNG (5) file.
QByteArray Embedding(const QByteArray &stream, std::uint32_t compression, int width, int height)
{
    QByteArray bmp;
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) bmp += char(i < 4 ? (v >> (8 * i)) & 0xFF : 0);
    };
    bmp += "BM";
    put(static_cast<std::uint32_t>(54 + stream.size()), 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(width), 4);
    put(static_cast<std::uint32_t>(height), 4);
    put(1, 2);
    put(0, 2);
    put(compression, 4);
    put(static_cast<std::uint32_t>(stream.size()), 4);
    put(0, 16);
    return bmp + stream;
}

} // namespace

TEST(BmpEmbedded, JpegAndPngPicturesInsideOpenAsTheirOwnFilesDo)
{
    auto picture = MakeBitmap(45, 31, pf24bit);
    FillRandomBytes(*picture, 12);
    const QByteArray png = EncodePicture(*picture, TPictureFileFormat::Png);
    const QByteArray jpeg = EncodePicture(*picture, TPictureFileFormat::Jpeg);
    for (const auto &[stream, compression] : {std::pair{png, 5u}, std::pair{jpeg, 4u}}) {
        SCOPED_TRACE(compression == 5 ? "PNG" : "JPEG");
        const QByteArray bmp = Embedding(stream, compression, 45, 31);
        TBitmap fromBmp, direct;
        DecodeBmp(Bytes(bmp), fromBmp);
        DecodePicture(Bytes(stream), direct);
        EXPECT_TRUE(SameBitmap(fromBmp, direct));
        if (compression == 5) {
            EXPECT_TRUE(SameBitmap(fromBmp, *picture));
        }
        // A cut-off stream gives the rows its own reader gives.
        TBitmap cut, cutDirect;
        const QByteArray half = bmp.left(54 + stream.size() / 2);
        const TRowsMissing missing = DecodeBmp(Bytes(half), cut);
        EXPECT_GT(missing.missing, 0);
        EXPECT_EQ(missing.missing, DecodePicture(Bytes(stream.left(stream.size() / 2)), cutDirect).missing);
        EXPECT_TRUE(SameBitmap(cut, cutDirect));
    }
}

TEST(BmpRunLengths24, Os2RunsAndAbsolutePixelsOfThreeBytesOpenAsRle8Does)
{
    const int width = 5, height = 2;
    // Bottom row: a run of 2, then 3 pixels as they are (padded to an even
    // count of bytes); top row: 3 pixels as they are, a run of 2 and the end.
    const std::vector<int> runs = {2, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5, 6, 21, 22, 23, 0, 0, 0,
                                   0, 3, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 2, 7, 8, 9, 0, 1};
    QByteArray bmp;
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) bmp += char(i < 4 ? (v >> (8 * i)) & 0xFF : 0);
    };
    bmp += "BM";
    put(static_cast<std::uint32_t>(14 + 64 + runs.size()), 4);
    put(0, 4);
    put(14 + 64, 4);
    put(64, 4);
    put(width, 4);
    put(height, 4);
    put(1, 2);
    put(24, 2);
    put(4, 4);
    put(static_cast<std::uint32_t>(runs.size()), 4);
    put(0, 16 + 24);
    for (int b : runs) bmp += char(b);
    TBitmap bitmap;
    DecodeBmp(Bytes(bmp), bitmap);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf24bit);
    const TColor top[] = {RGB(13, 12, 11), RGB(16, 15, 14), RGB(19, 18, 17), RGB(9, 8, 7), RGB(9, 8, 7)};
    const TColor bottom[] = {RGB(30, 20, 10), RGB(30, 20, 10), RGB(3, 2, 1), RGB(6, 5, 4), RGB(23, 22, 21)};
    for (int x = 0; x < width; ++x) {
        EXPECT_EQ(bitmap.GetPixel(x, 0), top[x]) << x;
        EXPECT_EQ(bitmap.GetPixel(x, 1), bottom[x]) << x;
    }
}

TEST(FaxCodes, EachColourIsAPrefixCodeFillingEveryBranchButTheZerosOfEndOfLine)
{
    // A wrong bit anywhere in the tables leaves a gap or an overlap: the
    // codes would no longer fill exactly the 2^13 windows that do not start
    // with 8 zero bits (those are kept for end of line).
    for (fax::TInk ink : {fax::TInk::White, fax::TInk::Black}) {
        SCOPED_TRACE(ink == fax::TInk::White ? "white" : "black");
        const auto codes = fax::Codes(ink);
        EXPECT_EQ(codes.size(), 64u + 27u + 13u);
        std::vector<int> covered(1 << 13, 0);
        for (const fax::TCode &code : codes) {
            ASSERT_TRUE(code.length >= 2 && code.length <= 13) << code.run;
            const int first = code.bits << (13 - code.length);
            for (int w = first; w < first + (1 << (13 - code.length)); ++w) ++covered[static_cast<std::size_t>(w)];
        }
        for (int w = 0; w < (1 << 13); ++w) ASSERT_EQ(covered[static_cast<std::size_t>(w)], w < (1 << 5) ? 0 : 1) << w;
        std::set<int> runs;
        for (const fax::TCode &code : codes) runs.insert(code.run);
        EXPECT_EQ(runs.size(), codes.size());
        EXPECT_EQ(*runs.rbegin(), 2560);
    }
}

TEST(FaxCodes, CodesAsTheStandardPrintsThemStandForTheirRuns)
{
    // Copied by hand from the standard's tables, not from ours: a run given
    // the code of its neighbour still makes a prefix code, which the test
    // above cannot see.
    const struct {
        fax::TInk ink;
        const char *bits;
        int run;
    } printed[] = {
        {fax::TInk::White, "00110101", 0}, {fax::TInk::White, "000111", 1}, {fax::TInk::White, "0010011", 26},
        {fax::TInk::White, "0100100", 27}, {fax::TInk::White, "00110100", 63}, {fax::TInk::White, "11011", 64},
        {fax::TInk::White, "10010", 128}, {fax::TInk::White, "011000", 1664}, {fax::TInk::White, "010011011", 1728},
        {fax::TInk::Black, "0000110111", 0}, {fax::TInk::Black, "010", 1}, {fax::TInk::Black, "11", 2},
        {fax::TInk::Black, "10", 3}, {fax::TInk::Black, "000011001010", 26}, {fax::TInk::Black, "000011001011", 27},
        {fax::TInk::Black, "000001100111", 63}, {fax::TInk::Black, "0000001111", 64},
        {fax::TInk::Black, "000011001000", 128}, {fax::TInk::Black, "0000001100101", 1728},
        {fax::TInk::White, "00000001000", 1792}, {fax::TInk::Black, "000000011111", 2560},
    };
    for (const auto &p : printed)
        EXPECT_EQ(FaxCodeText(p.ink, p.run), p.bits) << (p.ink == fax::TInk::White ? "white " : "black ") << p.run;
}

TEST(BmpSuiteHuffman, TheOneBitPictureCodedAsFaxRowsOpensAsItsReference)
{
    // The suite's Huffman file is the 1-bit picture in the fax code with the
    // palette white first; here it is made from the good file's pixels.
    SKIP_WITHOUT_CORPORA(corpora);
    const QString suite = corpora + QStringLiteral("/bmpsuite-good/");
    QFile file(suite + QStringLiteral("g/pal1.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    TBitmap pal1;
    DecodeBmp(Bytes(file.readAll()), pal1);
    ASSERT_EQ(pal1.GetPixelFormat(), pf1bit);
    ASSERT_EQ(pal1.GetPalette()[0], clBlack);
    const QImage reference = QImage(suite + QStringLiteral("html/pal1.png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(reference.isNull());

    std::vector<std::vector<int>> rows;
    for (int y = pal1.GetHeight() - 1; y >= 0; --y) {
        std::vector<std::uint8_t> inverted(pal1.GetScanline(y), pal1.GetScanline(y) + pal1.BytesPerRow());
        for (std::uint8_t &b : inverted) b = static_cast<std::uint8_t>(~b);
        rows.push_back(FaxRuns(inverted.data(), pal1.GetWidth()));
    }
    for (TFaxRowStart start : {TFaxRowStart::AfterLastRow, TFaxRowStart::OnAByte, TFaxRowStart::AfterEndOfLine}) {
        SCOPED_TRACE(static_cast<int>(start));
        const auto bmp = BmpFile({.headerSize = 64, .width = pal1.GetWidth(), .height = pal1.GetHeight(), .bits = 1,
                                  .compression = 3, .palette = {0xFFFFFF, 0x000000}, .pixels = FaxCoded(rows, start)});
        TBitmap bitmap;
        const TRowsMissing missing = DecodeBmp(bmp, bitmap);
        EXPECT_EQ(missing.missing, 0);
        ASSERT_EQ(bitmap.GetPixelFormat(), pf1bit);
        int wrong = 0;
        for (int y = 0; y < reference.height(); ++y)
            for (int x = 0; x < reference.width(); ++x)
                wrong += bitmap.GetPixel(x, y) != (reference.pixel(x, y) == qRgb(255, 255, 255) ? clWhite : clBlack);
        EXPECT_EQ(wrong, 0);
    }
}

TEST(BmpSuite64Bit, TheAlphaPictureInLinearFixedPointOpensAsItsReferenceWithAlpha)
{
    // The suite's 64-bit file is its alpha picture in linear light, s2.13:
    // made here from the reference, each 8-bit sRGB value taken to the
    // nearest 1/8192 in linear light. Reading must give every byte back.
    SKIP_WITHOUT_CORPORA(corpora);
    const QImage reference = QImage(corpora + QStringLiteral("/bmpsuite-good/html/rgba32.png"))
                                 .convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(reference.isNull());
    const auto linear = [](int v) {
        const double s = v / 255.0;
        return static_cast<int>(std::lround(8192 * (s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4))));
    };
    std::vector<std::uint8_t> pixels;
    for (int y = reference.height() - 1; y >= 0; --y)
        for (int x = 0; x < reference.width(); ++x) {
            const QRgb p = reference.pixel(x, y);
            for (int v : {linear(qBlue(p)), linear(qGreen(p)), linear(qRed(p)), (qAlpha(p) * 8192 + 127) / 255}) {
                pixels.push_back(static_cast<std::uint8_t>(v));
                pixels.push_back(static_cast<std::uint8_t>(v >> 8));
            }
        }
    const auto bmp = BmpFile({.width = reference.width(), .height = reference.height(), .bits = 64, .palette = {},
                              .pixels = pixels});
    TBitmap bitmap;
    EXPECT_EQ(DecodeBmp(bmp, bitmap).missing, 0);
    ASSERT_EQ(bitmap.GetPixelFormat(), pf32bit);
    EXPECT_EQ(bitmap.GetAlphaChannel(), TAlphaChannel::Used);
    int wrong = 0;
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            const QRgb p = reference.pixel(x, y);
            const std::uint8_t *got = bitmap.GetScanline(y) + 4 * x;
            const bool same = got[0] == qBlue(p) && got[1] == qGreen(p) && got[2] == qRed(p) && got[3] == qAlpha(p);
            if (!same && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << ", " << y << ": " << int(got[2]) << " " << int(got[1]) << " "
                              << int(got[0]) << " " << int(got[3]) << ", the reference " << std::hex << p;
        }
    EXPECT_EQ(wrong, 0);
}

// TIFFs of every layout read through libtiff straight into the bitmap give
// Qt's reading of the same file where Qt reads it the same way, else
// ImageMagick's, whatever their compression, strips or tiles; strips short
// of their rows give the rows they hold; and an opening takes the file and
// the picture alone.
#include "platform/files/qt/qt_codec.h"
#include "platform/files/tiff/tiff_codec.h"
#include "support/decoding.h"
#include "support/encoders.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

namespace {

struct TiffRecipe {
    std::uint32_t width = 37, height = 19, rowsPerStrip = 5;
    std::uint16_t samples = 3, bits = 8, photometric = PHOTOMETRIC_RGB, compression = COMPRESSION_NONE;
    std::uint16_t predictor = 1, orientation = ORIENTATION_TOPLEFT, planar = PLANARCONFIG_CONTIG;
    bool tiled = false;
    // A colour map of random 16-bit entries, for PHOTOMETRIC_PALETTE.
    bool colourMap = false;
};

// The file libtiff writes for the recipe, with random samples.
QByteArray TiffFile(const TiffRecipe &r, std::uint32_t seed)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("made.tif")));
    TIFF *tiff = TIFFOpen(path.constData(), "w");
    EXPECT_TRUE(tiff);
    if (!tiff) return {};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, r.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, r.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, r.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, r.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, r.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, r.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, r.planar);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, r.orientation);
    if (r.predictor != 1) TIFFSetField(tiff, TIFFTAG_PREDICTOR, r.predictor);
    std::mt19937 random(seed);
    std::vector<std::uint16_t> map(3 * (std::size_t(1) << r.bits));
    if (r.colourMap) {
        for (auto &entry : map) entry = static_cast<std::uint16_t>(random());
        const std::size_t n = map.size() / 3;
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    if (r.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(tiff)));
        for (std::uint32_t y = 0; y < r.height; y += 16)
            for (std::uint32_t x = 0; x < r.width; x += 16) {
                for (auto &b : tile) b = static_cast<std::uint8_t>(random());
                TIFFWriteTile(tiff, tile.data(), x, y, 0, 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, r.rowsPerStrip);
        // Planes apart: each sample's plane after the other.
        const bool apart = r.planar == PLANARCONFIG_SEPARATE;
        const std::size_t rowBytes = (r.width * (apart ? 1 : r.samples) * r.bits + 7) / 8;
        std::vector<std::uint8_t> row(rowBytes);
        for (std::uint16_t plane = 0; plane < (apart ? r.samples : 1); ++plane)
            for (std::uint32_t y = 0; y < r.height; ++y) {
                for (auto &b : row) b = static_cast<std::uint8_t>(random());
                TIFFWriteScanline(tiff, row.data(), y, plane);
            }
    }
    TIFFClose(tiff);
    QFile file(QString::fromLocal8Bit(path));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// The usual recipe with a few things changed.
TiffRecipe Recipe(const std::function<void(TiffRecipe &)> &change)
{
    TiffRecipe r;
    change(r);
    return r;
}

} // namespace

TEST(TiffReader, GreyAndColourStripsOpenAsQtReadsThemWhateverTheirCompression)
{
    for (const std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS})
        for (const bool colour : {false, true})
            for (const std::uint32_t rowsPerStrip : {1u, 5u, 19u}) {
                SCOPED_TRACE(testing::Message() << "compression " << compression << (colour ? ", RGB" : ", grey") << ", " << rowsPerStrip << " rows a strip");
                TiffRecipe r;
                r.compression = compression, r.rowsPerStrip = rowsPerStrip;
                if (!colour) r.samples = 1, r.photometric = PHOTOMETRIC_MINISBLACK;
                if (compression == COMPRESSION_LZW) r.predictor = 2;
                ExpectReadsAsQt(DecodeTiff, TiffFile(r, compression + rowsPerStrip));
            }
}

// Every other layout is read here too, as Qt reads it where it can: grey
// with white as 0, 16 bits a sample (rounded, as Qt rounds), alpha as a
// fourth sample, turned upside down, in tiles, in planes apart.
TEST(TiffReader, EveryOtherLayoutOpensAsQtReadsIt)
{
    const struct {
        const char *what;
        TiffRecipe recipe;
    } cases[] = {
        {"white is 0", Recipe([](TiffRecipe &r) { r.samples = 1, r.photometric = PHOTOMETRIC_MINISWHITE; })},
        {"16-bit RGB", Recipe([](TiffRecipe &r) { r.bits = 16; })},
        {"RGB and a fourth sample", Recipe([](TiffRecipe &r) { r.samples = 4; })},
        {"turned upside down", Recipe([](TiffRecipe &r) { r.orientation = ORIENTATION_BOTRIGHT; })},
        {"in tiles", Recipe([](TiffRecipe &r) { r.tiled = true; })},
        {"planes apart", Recipe([](TiffRecipe &r) { r.planar = PLANARCONFIG_SEPARATE; })},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray file = TiffFile(c.recipe, 9);
        EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeTiff(Bytes(file), b); }), NoException);
        if (MessageOf([&] { TBitmap b; DecodeWithQt(Bytes(file), b); }) == NoException) ExpectReadsAsQt(DecodeTiff, file);
    }
}

// Layouts Qt's reader does not take as they are (it reads what libtiff's
// RGBA conversion gives, a colour map of 16-bit entries, grey of 16 bits
// wrongly rounded) open as ImageMagick reads them: palettes of 4 and 8
// bits, grey of 1, 4 and 16 bits, 16-bit RGB with alpha, in tiles and
// planes apart.
TEST(TiffReader, PalettesAndDeepGreyOpenAsImageMagickReadsThem)
{
    SKIP_WITHOUT_TOOL("convert");
    const struct {
        const char *what;
        TiffRecipe recipe;
        TPixelFormat format;
    } cases[] = {
        {"4-bit palette", Recipe([](TiffRecipe &r) { r.samples = 1, r.bits = 4, r.photometric = PHOTOMETRIC_PALETTE, r.colourMap = true; }), pf8bit},
        {"8-bit palette in tiles", Recipe([](TiffRecipe &r) { r.samples = 1, r.photometric = PHOTOMETRIC_PALETTE, r.colourMap = true, r.tiled = true; }), pf8bit},
        {"1-bit grey", Recipe([](TiffRecipe &r) { r.samples = 1, r.bits = 1, r.photometric = PHOTOMETRIC_MINISBLACK; }), pf1bit},
        {"4-bit grey", Recipe([](TiffRecipe &r) { r.samples = 1, r.bits = 4, r.photometric = PHOTOMETRIC_MINISBLACK; }), pf8bit},
        {"16-bit grey", Recipe([](TiffRecipe &r) { r.samples = 1, r.bits = 16, r.photometric = PHOTOMETRIC_MINISBLACK; }), pf8bit},
        {"16-bit RGB and alpha, planes apart", Recipe([](TiffRecipe &r) { r.samples = 4, r.bits = 16, r.planar = PLANARCONFIG_SEPARATE; }), pf32bit},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray file = TiffFile(c.recipe, 11);
        const auto ours = DecodedBy(DecodeTiff, file), magick = ReadByTool(QStringLiteral("convert"), file, QStringLiteral("in.tif"));
        ASSERT_TRUE(ours);
        ASSERT_TRUE(magick);
        EXPECT_EQ(ours->GetPixelFormat(), c.format);
        // 16-bit samples and colour-map entries are rounded to 8 bits by
        // each reader in its own way: a step apart at most.
        EXPECT_LE(LargestDifference(*ours, *magick), c.recipe.bits == 16 || c.recipe.colourMap ? 1 : 0);
    }
}

namespace {

// Rows of `width` bytes, each byte its row's number and column.
QByteArray NumberedRows(int first, int rows, int width)
{
    QByteArray bytes;
    for (int y = first; y < first + rows; ++y)
        for (int x = 0; x < width; ++x) bytes += char(y * 16 + x);
    return bytes;
}

// Whether row y of the picture is the numbered row, or (missing) zeros.
bool RowIs(const TBitmap &bitmap, int y, bool missing)
{
    for (int x = 0; x < bitmap.GetWidth(); ++x)
        if (bitmap.Row(y)[x] != (missing ? 0 : std::uint8_t(y * 16 + x))) return false;
    return true;
}

} // namespace

// A strip whose byte count is short of its rows gives the rows the count
// holds; the rest of the strip is missing, blank, whatever bytes follow it
// in the file (the next strip, the directory), which libtiff would read on
// into. Later strips give their rows again.
TEST(TiffReader, StripsShorterThanTheirRowsGiveOnlyTheRowsTheyHold)
{
    const struct {
        const char *what;
        TTiffRecipe recipe;
        std::vector<int> missingRows;
    } cases[] = {
        {"a short strip between whole ones",
         {.width = 10, .height = 12, .rowsPerStrip = 4, .strips = {NumberedRows(0, 4, 10), NumberedRows(4, 4, 10), NumberedRows(8, 4, 10)},
          .counts = {40, 25, 40}},
         {6, 7}},
        {"one strip, its count short", {.width = 16, .height = 8, .rowsPerStrip = 8, .strips = {NumberedRows(0, 8, 16)}, .counts = {40}},
         {2, 3, 4, 5, 6, 7}},
        {"one strip, its data short", {.width = 16, .height = 8, .rowsPerStrip = 8, .strips = {NumberedRows(0, 3, 16)}, .counts = {128}},
         {3, 4, 5, 6, 7}},
        {"one strip, its count unstated", {.width = 16, .height = 8, .rowsPerStrip = 8, .strips = {NumberedRows(0, 8, 16)}, .counts = {0}}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap bitmap;
        const TRowsMissing missing = DecodeTiff(Bytes(HandMadeTiff(c.recipe)), bitmap);
        EXPECT_EQ(missing.missing, static_cast<int>(c.missingRows.size()));
        EXPECT_EQ(missing.rows, static_cast<int>(c.recipe.height));
        for (int y = 0; y < bitmap.GetHeight(); ++y)
            EXPECT_TRUE(RowIs(bitmap, y, std::count(c.missingRows.begin(), c.missingRows.end(), y) > 0)) << "row " << y;
    }
}

// A TIFF with alpha whose one uncompressed strip is shorter than its rows
// gives the rows the strip's count holds: libtiff takes the size the rows
// need instead, and would show the bytes after the strip (the directory)
// as pixels, as Qt's reader does.
TEST(TiffReader, AShortUncompressedStripWithAlphaGivesOnlyTheRowsItHolds)
{
    TiffRecipe r;
    r.samples = 4, r.rowsPerStrip = r.height;
    QByteArray file = TiffFile(r, 4);
    const auto whole = DecodedBy(DecodeTiff, file);
    ASSERT_TRUE(whole);
    // The one strip's byte count, held in its directory entry, two rows short.
    const qsizetype directory = qFromLittleEndian<quint32>(file.constData() + 4);
    for (int e = 0; e < qFromLittleEndian<quint16>(file.constData() + directory); ++e) {
        const qsizetype entry = directory + 2 + 12 * e;
        if (qFromLittleEndian<quint16>(file.constData() + entry) != TIFFTAG_STRIPBYTECOUNTS) continue;
        ASSERT_EQ(qFromLittleEndian<quint32>(file.constData() + entry + 4), 1u);
        qToLittleEndian<quint32>(qFromLittleEndian<quint32>(file.constData() + entry + 8) - 2 * 37 * 4, file.data() + entry + 8);
    }
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeWithQt(Bytes(file), b); }), NoException);
    TBitmap cut;
    const TRowsMissing missing = DecodeTiff(Bytes(file), cut);
    EXPECT_EQ(missing.missing, 2);
    EXPECT_TRUE(HoldsTheFirstRowsOf(cut, *whole, missing));
}

// A 10000 x 10000 RGB TIFF is the picture's 300 MB again: Qt's reading
// would hold its own image besides, more than an opening may take.
TEST(TiffReader, AHundredMegapixelTiffOpensWithinTheOpeningMemory)
{
    TiffRecipe r;
    r.width = r.height = 10000, r.rowsPerStrip = 64;
    const QByteArray file = TiffFile(r, 3);
    const auto read = DecodedWhereQtIsRefused(DecodeTiff, file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetHeight(), 10000);
}

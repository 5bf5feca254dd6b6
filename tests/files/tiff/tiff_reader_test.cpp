// TIFFs of every layout read through libtiff straight into the bitmap give
// Qt's reading of the same file where Qt reads it the same way, else
// ImageMagick's, whatever their compression, strips or tiles; strips short
// of their rows give the rows they hold; an opening takes the file and
// the picture alone; and a file read from where its pieces lie gives the
// same picture without being held whole, unless it changes meanwhile.
#include "platform/files/qt/qt_codec.h"
#include "platform/files/tiff/tiff_codec.h"
#include "platform/files/disk/file_reading.h"
#include "platform/files/picture_codecs.h"
#include "platform/files/picture_files.h"
#include "support/comparisons.h"
#include "support/decoding.h"
#include "support/disk_files.h"
#include "support/encoders.h"
#include "support/failures.h"
#include "support/file_builders.h"
#include "support/memory_files.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Read from where its pieces lie, a TIFF of any layout gives the picture
// the whole file's decoding gives, rows missing alike, reading no byte in
// order (the whole file is never held) and checking the file at the end;
// pieces larger than the block of small reads go straight to libtiff.
TEST(TiffReader, FilesReadWhereTheirPiecesLieGiveTheWholeFilesPicture)
{
    const auto recipe = [](const std::function<void(TiffRecipe &)> &change) {
        TiffRecipe r;
        r.width = 600, r.height = 300;
        change(r);
        return r;
    };
    const struct {
        const char *what;
        QByteArray file;
    } cases[] = {
        {"8-bit RGB strips of 5 rows", TiffFile(recipe([](TiffRecipe &) {}), 1)},
        {"16-bit RGB strips of 64 rows", TiffFile(recipe([](TiffRecipe &r) { r.bits = 16, r.rowsPerStrip = 64; }), 2)},
        {"one uncompressed strip", TiffFile(recipe([](TiffRecipe &r) { r.rowsPerStrip = 300; }), 3)},
        {"LZW", TiffFile(recipe([](TiffRecipe &r) { r.compression = COMPRESSION_LZW, r.predictor = 2; }), 4)},
        {"tiles", TiffFile(recipe([](TiffRecipe &r) { r.tiled = true; }), 5)},
        {"planes apart", TiffFile(recipe([](TiffRecipe &r) { r.planar = PLANARCONFIG_SEPARATE, r.bits = 16; }), 6)},
        {"a palette", TiffFile(recipe([](TiffRecipe &r) { r.samples = 1, r.photometric = PHOTOMETRIC_PALETTE, r.colourMap = true; }), 7)},
        {"a short strip", HandMadeTiff({.width = 10, .height = 12, .rowsPerStrip = 4,
                                        .strips = {NumberedRows(0, 4, 10), NumberedRows(4, 4, 10), NumberedRows(8, 4, 10)}, .counts = {40, 25, 40}})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TBitmap whole, straight;
        const TRowsMissing wholeMissing = DecodeTiff(Bytes(c.file), whole);
        TMemoryFileSource source(std::vector<std::uint8_t>(Bytes(c.file).begin(), Bytes(c.file).end()));
        const std::optional<TRowsMissing> straightMissing = ReadPictureStraight(source, straight);
        ASSERT_TRUE(straightMissing);
        EXPECT_TRUE(SameBitmap(straight, whole));
        EXPECT_EQ(straightMissing->missing, wholeMissing.missing);
        EXPECT_FALSE(source.readIntoPieces);
        EXPECT_FALSE(source.finished);
        EXPECT_TRUE(source.checked);
        EXPECT_GT(source.readAtBytes, 0u);
    }
}

// A file cut short, or written again in place, while it is read is
// refused as changed; the picture is not given.
TEST(TiffReader, AFileThatChangesWhileItIsReadIsRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("changing.tif"));
    TiffRecipe r;
    r.width = 300, r.height = 200;
    const QByteArray file = TiffFile(r, 8);
    const std::string changed = "the file changed while it was being read; open it again once it is written";
    for (const bool cut : {true, false}) {
        SCOPED_TRACE(cut ? "cut short" : "written again");
        PutFile(path, file);
        TFileReading reading(path);
        QFile again(path);
        ASSERT_TRUE(again.open(QIODevice::ReadWrite));
        if (cut) {
            ASSERT_TRUE(again.resize(file.size() / 2));
        } else {
            ASSERT_TRUE(again.write(file) == file.size());
            ASSERT_TRUE(again.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        again.close();
        TBitmap picture;
        EXPECT_EQ(MessageOf([&] { ReadTiffStraight(reading, picture); }), changed);
        EXPECT_TRUE(picture.Empty());
    }
}

namespace {

// An uncompressed 16-bit RGB TIFF of width x height in strips of 64 rows,
// its directory first and its samples a hole of zeros, but for its last
// row: red 0xFFFF, green 0x8080 and blue 0x0101 (255, 128 and 1 in 8 bits).
void WriteHollowDeepTiff(const QString &path, std::uint32_t width, std::uint32_t height)
{
    constexpr std::uint32_t rowsPerStrip = 64, entries = 10, pixelsAt = 1 << 16;
    const std::uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip, rowBytes = width * 6;
    const std::uint32_t bitsAt = 8 + 2 + 12 * entries + 4, offsetsAt = bitsAt + 6, countsAt = offsetsAt + 4 * strips;
    ASSERT_LE(countsAt + 4 * strips, pixelsAt);
    QByteArray head(pixelsAt, '\0');
    const auto put = [&](std::uint32_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) head[at + std::uint32_t(i)] = char(v >> (8 * i));
    };
    head[0] = head[1] = 'I';
    put(2, 42, 2);
    put(4, 8, 4);
    put(8, entries, 2);
    std::uint32_t at = 10;
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
        put(at, tag, 2), put(at + 2, type, 2), put(at + 4, count, 4), put(at + 8, value, type == 3 && count == 1 ? 2 : 4);
        at += 12;
    };
    entry(TIFFTAG_IMAGEWIDTH, 4, 1, width);
    entry(TIFFTAG_IMAGELENGTH, 4, 1, height);
    entry(TIFFTAG_BITSPERSAMPLE, 3, 3, bitsAt);
    entry(TIFFTAG_COMPRESSION, 3, 1, COMPRESSION_NONE);
    entry(TIFFTAG_PHOTOMETRIC, 3, 1, PHOTOMETRIC_RGB);
    entry(TIFFTAG_STRIPOFFSETS, 4, strips, offsetsAt);
    entry(TIFFTAG_SAMPLESPERPIXEL, 3, 1, 3);
    entry(TIFFTAG_ROWSPERSTRIP, 4, 1, rowsPerStrip);
    entry(TIFFTAG_STRIPBYTECOUNTS, 4, strips, countsAt);
    entry(TIFFTAG_PLANARCONFIG, 3, 1, PLANARCONFIG_CONTIG);
    for (std::uint32_t i = 0; i < 3; ++i) put(bitsAt + 2 * i, 16, 2);
    for (std::uint32_t i = 0; i < strips; ++i) {
        put(offsetsAt + 4 * i, pixelsAt + i * rowsPerStrip * rowBytes, 4);
        put(countsAt + 4 * i, std::min(rowsPerStrip, height - i * rowsPerStrip) * rowBytes, 4);
    }
    QByteArray lastRow;
    for (std::uint32_t x = 0; x < width; ++x) lastRow += QByteArray("\xFF\xFF\x80\x80\x01\x01", 6);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(head), head.size());
    ASSERT_TRUE(file.seek(qint64(pixelsAt) + qint64(rowBytes) * (height - 1)));
    ASSERT_EQ(file.write(lastRow), lastRow.size());
}

} // namespace

// An uncompressed 16-bit TIFF is read from where its strips lie: opening
// takes the picture and a strip besides, not the file too, and so opens
// a file that reading it whole would refuse for memory. This one's file
// is twice its picture (432 MB beside 216 MB), beyond that reading's bar.
TEST(TiffReader, AnUncompressedDeepTiffBeyondWhatReadingItWholeTakesOpensFromWhereItLies)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("deep.tif"));
    constexpr int width = 9000, height = 8000;
    WriteHollowDeepTiff(path, width, height);
    {
        // The whole file, mapped only here, as a reader holding it whole sees it.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        struct stat st;
        ASSERT_EQ(::fstat(fd, &st), 0);
        void *mapped = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        ASSERT_NE(mapped, MAP_FAILED);
        TBitmap whole;
        const std::string refusal = MessageOf([&] { DecodeTiff({static_cast<const std::uint8_t *>(mapped), static_cast<std::size_t>(st.st_size)}, whole); });
        ::munmap(mapped, static_cast<std::size_t>(st.st_size));
        EXPECT_NE(refusal.find("opening this TIFF picture would take about"), std::string::npos) << refusal;
    }
    TBitmap picture;
    ASSERT_EQ(MessageOf([&] { ReadPictureFile(path, picture); }), NoException);
    ASSERT_EQ(picture.GetWidth(), width);
    ASSERT_EQ(picture.GetHeight(), height);
    ASSERT_EQ(picture.GetPixelFormat(), pf24bit);
    const std::uint8_t *last = picture.Row(height - 1), *before = picture.Row(height - 2);
    for (const int x : {0, width / 2, width - 1}) {
        EXPECT_EQ(last[3 * x], 1);
        EXPECT_EQ(last[3 * x + 1], 128);
        EXPECT_EQ(last[3 * x + 2], 255);
        EXPECT_EQ(before[3 * x] | before[3 * x + 1] | before[3 * x + 2], 0);
    }
}

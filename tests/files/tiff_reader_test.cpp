// TIFFs of 8-bit grey or RGB strips read through libtiff straight into the
// bitmap give Qt's reading of the same file, whatever their compression and
// strips; the TIFFs left to Qt still open as Qt reads them; and an opening
// takes the file and the picture alone.
#include "platform/files/qt_codec.h"
#include "platform/files/tiff_codec.h"
#include "support/decoding.h"
#include "support/failures.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <random>
#include <vector>

namespace {

struct TiffRecipe {
    std::uint32_t width = 37, height = 19, rowsPerStrip = 5;
    std::uint16_t samples = 3, bits = 8, photometric = PHOTOMETRIC_RGB, compression = COMPRESSION_NONE;
    std::uint16_t predictor = 1, orientation = ORIENTATION_TOPLEFT, planar = PLANARCONFIG_CONTIG;
    bool tiled = false;
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
    const std::size_t bytesPerSample = r.bits / 8;
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
        const std::size_t rowBytes = r.width * (apart ? 1 : r.samples) * bytesPerSample;
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

TEST(TiffReader, OtherTiffsAreLeftToQtsReader)
{
    const auto recipe = [](const std::function<void(TiffRecipe &)> &change) {
        TiffRecipe r;
        change(r);
        return r;
    };
    const struct {
        const char *what;
        TiffRecipe recipe;
    } cases[] = {
        {"white is 0", recipe([](TiffRecipe &r) { r.samples = 1, r.photometric = PHOTOMETRIC_MINISWHITE; })},
        {"16-bit RGB", recipe([](TiffRecipe &r) { r.bits = 16; })},
        {"RGB and a fourth sample", recipe([](TiffRecipe &r) { r.samples = 4; })},
        {"turned upside down", recipe([](TiffRecipe &r) { r.orientation = ORIENTATION_BOTRIGHT; })},
        {"in tiles", recipe([](TiffRecipe &r) { r.tiled = true; })},
        {"planes apart", recipe([](TiffRecipe &r) { r.planar = PLANARCONFIG_SEPARATE; })},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        // Qt's verdict too (its reader refuses tiles of 16 x 16).
        const QByteArray file = TiffFile(c.recipe, 9);
        const std::string qt = MessageOf([&] { TBitmap b; DecodeWithQt(Bytes(file), b); });
        EXPECT_EQ(MessageOf([&] { TBitmap b; DecodeTiff(Bytes(file), b); }), qt);
        if (qt == "(no exception)") ExpectReadsAsQt(DecodeTiff, file);
    }
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

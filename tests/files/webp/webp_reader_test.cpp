// Still WebPs decoded through libwebp straight into the bitmap give Qt's
// reading of the same file, lossy or lossless, with alpha or without; data
// that ends early gives the rows decoded; and an opening takes the file and
// the picture alone.
#include "platform/files/webp/webp_codec.h"
#include "support/decoding.h"
#include "support/failures.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

QByteArray QtWritten(const QImage &image, int quality) { return WrittenByQt(image, "webp", quality); }

QImage Noise(int width, int height, QImage::Format format, std::uint32_t seed)
{
    QImage image(width, height, format);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(int(x * 255 / width), int(random() & 255), int(y * 255 / height), format == QImage::Format_ARGB32 ? int(random() & 255) : 255));
    return image;
}

} // namespace

TEST(WebpReader, LossyLosslessAndTranslucentPicturesOpenAsQtReadsThem)
{
    for (const auto &[width, height] : {std::pair{1, 1}, std::pair{37, 19}, std::pair{300, 201}})
        for (const int quality : {30, 90, 100}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height << ", quality " << quality);
            ExpectReadsAsQt(DecodeWebp, QtWritten(Noise(width, height, QImage::Format_RGB32, static_cast<std::uint32_t>(width + quality)), quality));
            ExpectReadsAsQt(DecodeWebp, QtWritten(Noise(width, height, QImage::Format_ARGB32, static_cast<std::uint32_t>(width)), quality));
        }
}

// Data that ends early gives the rows the decoder gave from what is there,
// the rest blank; cut at every 97th byte, lossy and lossless, with alpha
// and without.
TEST(WebpReader, DataThatEndsEarlyGivesTheRowsTheDecoderGave)
{
    for (const auto &[quality, format] : {std::pair{80, QImage::Format_RGB32}, std::pair{100, QImage::Format_RGB32}, std::pair{80, QImage::Format_ARGB32},
                                          std::pair{100, QImage::Format_ARGB32}}) {
        SCOPED_TRACE(testing::Message() << "quality " << quality << (format == QImage::Format_ARGB32 ? ", with alpha" : ""));
        const QByteArray file = QtWritten(Noise(200, 150, format, 5), quality);
        const auto whole = DecodedBy(DecodeWebp, file);
        int rowsShown = 0;
        for (qsizetype size = 40; size < file.size(); size += 97) {
            TBitmap part;
            TRowsMissing missing;
            ASSERT_EQ(MessageOf([&] { missing = DecodeWebp(Bytes(file.left(size)), part); }), NoException) << "cut at " << size;
            ASSERT_TRUE(HoldsTheFirstRowsOf(part, *whole, missing)) << "cut at " << size << ", " << missing.missing << " rows missing";
            EXPECT_GT(missing.missing, 0) << "cut at " << size;
            rowsShown += missing.missing < missing.rows;
        }
        EXPECT_GT(rowsShown, 0);
    }
}

// A lossy 10000 x 10000 WebP is refused through Qt, whose reading holds the
// file, its own image and ours; here it takes the file and the picture.
TEST(WebpReader, AHundredMegapixelLossyWebpOpensWithinTheOpeningMemory)
{
    QImage image(10000, 10000, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    const QByteArray file = QtWritten(image, 90);
    const auto read = DecodedWhereQtIsRefused(DecodeWebp, file);
    ASSERT_TRUE(read);
    const TColor corner = read->GetPixel(9999, 9999);
    EXPECT_LE(std::abs(GetRValue(corner) - 200) + std::abs(GetGValue(corner) - 120) + std::abs(GetBValue(corner) - 40), 6);
}

// PBM, PGM and PPM, plain and binary, read straight into the bitmap give
// Qt's reading of the same file where Qt reads it well; samples of every
// depth are rounded and clamped; data that ends early gives its rows; what
// this program writes opens again; and an opening takes the file and the
// picture alone.
#include "platform/files/picture_codecs.h"
#include "platform/files/pnm/pnm_codec.h"
#include "platform/files/qt/qt_codec.h"
#include "support/decoding.h"
#include "support/failures.h"
#include "support/pictures.h"
#include "support/qt_reference.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

namespace {

QByteArray Samples(int count, std::uint32_t seed, int maxValue = 255)
{
    std::mt19937 random(seed);
    QByteArray bytes(count, '\0');
    for (char &b : bytes) b = char(random() % (maxValue + 1));
    return bytes;
}

} // namespace

TEST(PnmReader, FilesOfEveryKindOpenAsQtReadsThem)
{
    for (const char kind : {'1', '2', '3', '4', '5', '6'})
        for (const auto &[width, height] : {std::pair{1, 1}, std::pair{37, 19}, std::pair{640, 3}}) {
            SCOPED_TRACE(testing::Message() << "P" << kind << " " << width << " x " << height);
            const bool bits = kind == '1' || kind == '4', plain = kind <= '3', colour = kind == '3' || kind == '6';
            const int samples = width * height * (colour ? 3 : 1);
            const QByteArray size = QByteArray::number(width) + ' ' + QByteArray::number(height);
            const auto file = [&](const QByteArray &separator, int maxValue) {
                const QByteArray head = "P" + QByteArray(1, kind) + separator + size + separator + (bits ? "" : QByteArray::number(maxValue) + separator);
                if (kind == '4') return head + Samples((width + 7) / 8 * height, static_cast<std::uint32_t>(width));
                const QByteArray data = Samples(samples, static_cast<std::uint32_t>(width + kind), bits ? 1 : maxValue);
                if (!plain) return head + data;
                QByteArray text;
                for (char sample : data) text += QByteArray::number(std::uint8_t(sample)) + ' ';
                return head + text + "\n";
            };
            ExpectReadsAsQt(DecodePnm, file("\n", 255));
            // Comments, other white space, and samples of 4 bits.
            ExpectReadsAsQt(DecodePnm, file(" #size\n\t", 255) + "tail");
            if (!bits) ExpectReadsAsQt(DecodePnm, file("\r\n", 15));
        }
}

// A plain PBM's digits need nothing between them (Qt's reader wants white
// space there).
TEST(PnmReader, PlainBitsNeedNothingBetweenThem)
{
    const auto together = DecodedBy(DecodePnm, "P1\n5 2\n10110\n0\n1001\n");
    const auto apart = DecodedBy(DecodePnm, "P1\n5 2\n1 0 1 1 0 0 1 0 0 1\n");
    EXPECT_TRUE(SameBitmap(*together, *apart));
    EXPECT_EQ(together->GetPixel(0, 0), clBlack);
    EXPECT_EQ(together->GetPixel(1, 0), clWhite);
    EXPECT_EQ(together->GetPixel(4, 1), clBlack);
}

// Samples of any maximum are scaled to 0..255, rounded to the nearest, and
// a sample above the maximum counts as the maximum (Qt's reader wraps it
// round: 255 of 100 became 140). Plain and binary alike, one byte a sample
// up to 255, two above.
TEST(PnmReader, SamplesOfEveryDepthAreRoundedAndThoseAboveTheMaximumClamped)
{
    for (const int maxValue : {1, 3, 100, 200, 255, 256, 1000, 65535})
        for (const char kind : {'2', '3', '5', '6'}) {
            SCOPED_TRACE(testing::Message() << "P" << kind << ", maximum " << maxValue);
            const bool colour = kind == '3' || kind == '6', plain = kind <= '3';
            const int channels = colour ? 3 : 1;
            std::vector<int> values;
            for (int v = 0; v <= std::min(maxValue, 300); ++v) values.push_back(v);
            // Above the maximum, up to what the sample's bytes hold.
            for (const int above : {maxValue + 1, maxValue > 255 ? 65535 : 255, 70000})
                if (above > maxValue && (plain || above <= (maxValue > 255 ? 65535 : 255))) values.push_back(above);
            while (values.size() % std::size_t(channels)) values.push_back(0);
            const int width = static_cast<int>(values.size()) / channels;
            QByteArray file = "P" + QByteArray(1, kind) + " " + QByteArray::number(width) + " 1 " + QByteArray::number(maxValue) + "\n";
            for (const int v : values) {
                if (plain) file += QByteArray::number(v) + ' ';
                else if (maxValue > 255) file += QByteArray(1, char(v >> 8)) + char(v & 255);
                else file += char(v);
            }
            const auto read = DecodedBy(DecodePnm, file);
            ASSERT_EQ(read->GetWidth(), width);
            for (int x = 0; x < width; ++x) {
                int expected[3];
                for (int c = 0; c < channels; ++c) {
                    const int v = std::min(values[std::size_t(x * channels + c)], maxValue);
                    expected[c] = (v * 255 + maxValue / 2) / maxValue;
                }
                const TColor colourThere = colour ? RGB(expected[0], expected[1], expected[2]) : RGB(expected[0], expected[0], expected[0]);
                ASSERT_EQ(read->GetPixel(x, 0), colourThere) << "pixel " << x;
            }
        }
}

// Data that ends early gives the rows it holds, and the whole pixels of
// the row it ends in; the rest is blank.
TEST(PnmReader, DataThatEndsEarlyGivesTheRowsItHolds)
{
    const QByteArray binary = "P6 9 5 255\n" + Samples(9 * 5 * 3, 7);
    QByteArray plain = "P2 9 5 255\n";
    for (char c : Samples(9 * 5, 8)) plain += QByteArray::number(std::uint8_t(c)) + '\n';
    const QByteArray bits = "P4 13 5\n" + Samples(2 * 5, 9);
    for (const auto &[name, file, cut, held] : {std::tuple{"binary, a row and 4 pixels", binary, qsizetype(11 + 27 + 13), 1},
                                                 std::tuple{"binary, no pixel", binary, qsizetype(11), 0},
                                                 std::tuple{"plain, the header only", plain, qsizetype(11), 0},
                                                 std::tuple{"bits, 4 rows", bits, qsizetype(8 + 2 * 4), 4}}) {
        SCOPED_TRACE(name);
        const auto whole = DecodedBy(DecodePnm, file);
        auto kept = MakeBitmap(3, 2, pf8bit);
        TBitmap bitmap;
        bitmap.Assign(kept.get());
        const TRowsMissing missing = DecodePnm(Bytes(file.left(cut)), bitmap);
        EXPECT_EQ(missing.rows, 5);
        EXPECT_EQ(missing.missing, 5 - held);
        EXPECT_TRUE(HoldsTheFirstRowsOf(bitmap, *whole, missing));
    }
    // The plain file cut after 3 rows and a sample: those rows and that pixel.
    const qsizetype afterRows = [&] {
        qsizetype at = plain.indexOf('\n');
        for (int i = 0; i < 3 * 9 + 1; ++i) at = plain.indexOf('\n', at + 1);
        return at + 1;
    }();
    TBitmap part;
    const TRowsMissing missing = DecodePnm(Bytes(plain.left(afterRows)), part);
    EXPECT_EQ(missing.missing, 2);
    EXPECT_EQ(part.GetPixel(0, 3), DecodedBy(DecodePnm, plain)->GetPixel(0, 3));
    EXPECT_EQ(part.GetPixel(1, 3), clBlack);
}

// What this program writes as PBM, PGM and PPM opens again at every size
// the bitmap holds: Qt's reader took at most 32767 pixels a side.
TEST(PnmReader, WhatThisProgramWritesOpensAgainAtAnySize)
{
    for (const auto format : {TPictureFileFormat::Pbm, TPictureFileFormat::Pgm, TPictureFileFormat::Ppm})
        for (const auto &[width, height] : {std::pair{70000, 1}, std::pair{1, 70000}, std::pair{40000, 3}}) {
            SCOPED_TRACE(testing::Message() << PictureFileFormatInfo(format).name << " " << width << " x " << height);
            const TPixelFormat pixels = format == TPictureFileFormat::Pbm ? pf1bit : format == TPictureFileFormat::Pgm ? pf8bit : pf24bit;
            auto picture = MakeBitmap(width, height, pixels);
            if (pixels == pf1bit) {
                TPalette blackAndWhite{};
                blackAndWhite[0] = clWhite;
                blackAndWhite[1] = clBlack;
                picture->SetPalette(blackAndWhite);
            }
            FillRandomBytes(*picture, static_cast<std::uint32_t>(width + height));
            TBitmap read;
            EXPECT_EQ(DecodePicture(Bytes(EncodePicture(*picture, format)), read).missing, 0);
            EXPECT_TRUE(SameColours(read, *picture));
        }
}

// A 10000 x 10000 PPM is the picture's 300 MB again: Qt's reading would
// hold a 32-bit copy besides, more than an opening may take.
TEST(PnmReader, AHundredMegapixelPpmOpensWithinTheOpeningMemory)
{
    const QByteArray file = "P6\n10000 10000\n255\n" + QByteArray(10000 * 10000 * 3, char(0x5A));
    const auto read = DecodedWhereQtIsRefused(DecodePnm, file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetHeight(), 10000);
    EXPECT_EQ(read->GetPixel(9999, 9999), RGB(0x5A, 0x5A, 0x5A));
}

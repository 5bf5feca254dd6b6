// PNG through libspng and our parallel writer: every colour type and bit
// depth opens as Qt's reader opens it, every picture written reads back
// exactly through libpng (Qt), ImageMagick and our reader, and damaged or
// lying files are refused with their reason.
#include "platform/files/channel_order.h"
#include "platform/files/png/png_codec.h"
#include "platform/files/png/png_filters.h"
#include "platform/files/png/png_unfilter.h"
#include "platform/files/qt/qt_codec.h"
#include "support/decoding.h"
#include "support/file_builders.h"
#include "support/pictures.h"
#include "support/vector_levels.h"

#include <QImage>
#include <QProcess>
#include <QtEndian>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

namespace {

QByteArray Of(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes) out += char(b);
    return out;
}

std::string FirstDifference(const TBitmap &a, const TBitmap &b)
{
    for (int i = 0; i < a.PaletteSize(); ++i)
        if (a.GetPalette()[static_cast<std::size_t>(i)] != b.GetPalette()[static_cast<std::size_t>(i)])
            return "palette entry " + std::to_string(i) + ": " + std::to_string(a.GetPalette()[static_cast<std::size_t>(i)]) + " vs " +
                   std::to_string(b.GetPalette()[static_cast<std::size_t>(i)]);
    const int bytes = (a.GetWidth() * BitsPerPixel(a.GetPixelFormat()) + 7) / 8;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < bytes; ++x)
            if (a.Row(y)[x] != b.Row(y)[x])
                return "row " + std::to_string(y) + " byte " + std::to_string(x) + ": " + std::to_string(a.Row(y)[x]) + " vs " + std::to_string(b.Row(y)[x]);
    return "no difference";
}

std::string Dump(const TBitmap &a)
{
    std::string s = "format " + std::to_string(a.GetPixelFormat()) + ":";
    for (int x = 0; x < static_cast<int>(std::min<std::size_t>(12, a.BytesPerRow())); ++x) s += " " + std::to_string(a.Row(0)[x]);
    return s;
}

// Same form, palette and bytes as Qt's reading, alpha included.
void ExpectAsQtReads(const QByteArray &png)
{
    const auto ours = DecodedBy(DecodePng, png);
    const auto qt = DecodedBy(DecodeWithQt, png);
    ASSERT_EQ(ours->GetPixelFormat(), qt->GetPixelFormat()) << Dump(*ours) << " vs " << Dump(*qt);
    EXPECT_TRUE(SameBitmap(*ours, *qt)) << FirstDifference(*ours, *qt) << "\n" << Dump(*ours) << " vs " << Dump(*qt);
}

struct Kind {
    int colourType, depth;
};
const Kind Kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1}, {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

} // namespace

// --- Reading: every colour type and depth as Qt reads it ---------------------

TEST(PngReader, EveryColourTypeAndDepthOpensAsQtOpensIt)
{
    for (const Kind kind : Kinds)
        for (const bool interlaced : {false, true})
            for (const auto &[width, height] : {std::pair{37, 19}, std::pair{1, 1}, std::pair{9, 3}}) {
                SCOPED_TRACE(testing::Message() << "colour type " << kind.colourType << ", depth " << kind.depth << (interlaced ? ", interlaced " : " ")
                                                << width << "x" << height);
                std::mt19937 random(static_cast<unsigned>(kind.colourType * 100 + kind.depth + (interlaced ? 7 : 0) + width));
                const unsigned max = (1u << kind.depth) - 1;
                PngRecipe recipe;
                recipe.width = width, recipe.height = height, recipe.depth = kind.depth, recipe.colourType = kind.colourType, recipe.interlaced = interlaced;
                std::vector<unsigned> samples(static_cast<std::size_t>(width * height * 4));
                for (unsigned &s : samples) s = random() & max;
                recipe.sample = [&](int x, int y, int c) { return samples[static_cast<std::size_t>((y * width + x) * 4 + c)]; };
                if (kind.colourType == 3)
                    for (unsigned i = 0; i <= max; ++i) recipe.plte += Of({int(random() & 255), int(random() & 255), int(random() & 255)});
                ExpectAsQtReads(MakePng(recipe));

                // Every alpha 255: the smallest opaque form.
                if (kind.colourType == 4 || kind.colourType == 6) {
                    const int alphaChannel = PngChannels(kind.colourType) - 1;
                    for (int i = 0; i < width * height; ++i) samples[static_cast<std::size_t>(i * 4 + alphaChannel)] = max;
                    ExpectAsQtReads(MakePng(recipe));
                    // Translucent only in the last pixel: the rows above, read as opaque, widen.
                    samples[static_cast<std::size_t>((width * height - 1) * 4 + alphaChannel)] = max / 2;
                    ExpectAsQtReads(MakePng(recipe));
                }
                // A palette of greys; a transparent entry that some pixel uses, then none does.
                if (kind.colourType == 3) {
                    PngRecipe grey = recipe;
                    grey.plte.clear();
                    for (unsigned i = 0; i <= max; ++i) grey.plte += QByteArray(3, char(random()));
                    ExpectAsQtReads(MakePng(grey));
                    PngRecipe trns = recipe;
                    trns.trns = Of({255, samples[0] == 0 ? 255 : 0, 128}).left(static_cast<qsizetype>(std::min(3u, max + 1)));
                    ExpectAsQtReads(MakePng(trns));
                    trns.trns = QByteArray(static_cast<qsizetype>(max + 1), char(255));
                    ExpectAsQtReads(MakePng(trns));
                }
                // A transparent level or colour that the first pixel has, then one no pixel has.
                if (kind.colourType == 0 || kind.colourType == 2) {
                    PngRecipe trns = recipe;
                    const int channels = PngChannels(kind.colourType);
                    for (int c = 0; c < channels; ++c) {
                        const unsigned v = samples[static_cast<std::size_t>(c)];
                        trns.trns += Of({int(v >> 8), int(v & 255)});
                    }
                    // Qt reads 16-bit RGB with a transparent colour as if it had four channels.
                    if (kind.colourType == 2 && kind.depth == 16) continue;
                    ExpectAsQtReads(MakePng(trns));
                    // The last pixel's, which the rows above may lack.
                    trns.trns.clear();
                    for (int c = 0; c < channels; ++c) {
                        const unsigned v = samples[static_cast<std::size_t>((width * height - 1) * 4 + c)];
                        trns.trns += Of({int(v >> 8), int(v & 255)});
                    }
                    ExpectAsQtReads(MakePng(trns));
                    for (int i = 0; i < width * height; ++i) samples[static_cast<std::size_t>(i * 4)] &= ~1u & max;
                    trns.trns = Of({0, int(1 & max)}).repeated(channels);
                    if (max > 1) ExpectAsQtReads(MakePng(trns));
                }
            }
}

// Damaged files, sizes beyond the limit, and data too small for the rows
// the header claims (deflate gives at most 1032 bytes a byte): refused
// before the picture is allocated.
TEST(PngReader, DamagedHugeAndLyingFilesAreRefusedAndLeaveTheBitmap)
{
    auto picture = MakeBitmap(120, 90, pf24bit);
    FillRandomBytes(*picture, 3);
    const QByteArray png = EncodePng(*picture);
    QByteArray badHeaderCrc = png;
    badHeaderCrc[29] = char(badHeaderCrc[29] ^ 1);
    QByteArray badDataCrc = png;
    badDataCrc[badDataCrc.size() - 13] = char(badDataCrc[badDataCrc.size() - 13] ^ 1);
    QByteArray badData = png;
    badData[200] = char(badData[200] ^ 0x55);
    PngRecipe huge;
    huge.width = 100000, huge.height = 100000, huge.colourType = 2;
    huge.sample = [](int, int, int) { return 0u; };
    const QByteArray header = QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", BigEndian32(100000) + BigEndian32(100000) + Of({8, 2, 0, 0, 0}));
    // The same data, the header claiming 200000 rows of 360 bytes.
    const qsizetype dataAt = png.indexOf("IDAT") - 4;
    const QByteArray claiming = png.left(8) + PngChunk("IHDR", BigEndian32(120) + BigEndian32(200000) + Of({8, 2, 0, 0, 0})) + png.mid(dataAt);
    const qsizetype dataBytes = qFromBigEndian<quint32>(png.constData() + dataAt);
    ASSERT_EQ(png.indexOf("IDAT", dataAt + 8), -1);
    const struct {
        const char *what;
        QByteArray bytes;
        std::string reason;
    } cases[] = {
        {"signature only", png.left(8), Damaged},
        {"a bit flipped in the header", badHeaderCrc, Damaged},
        {"a bit flipped in a data chunk's checksum", badDataCrc, Damaged},
        {"compressed data changed", badData, Damaged},
        {"100000 x 100000 claimed", header + PngChunk("IDAT", qCompress(QByteArray(64, '\0')).mid(4)) + PngChunk("IEND", {}),
         "the picture is 100000 x 100000 pixels, which would take 28611 MiB; this program handles pictures of less than 2048 MiB"},
        {"120 x 200000 claimed", claiming,
         QStringLiteral("the header claims 120 x 200000 pixels, but the file holds %1 bytes of picture data, and even the most "
                        "compressed PNG picture of that size takes %2 bytes").arg(dataBytes).arg(200000 * 360 / 1032).toStdString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const TDecodedOver over = DecodedOverAPicture(DecodePng, c.bytes);
        EXPECT_EQ(over.message, c.reason);
        EXPECT_TRUE(over.pictureKept);
    }
}

// Data that ends early gives the rows from the top it holds, the rest
// blank: a file cut off inside its data, one whose data has too few rows,
// an interlaced one cut in its last pass, and a translucent palette one; a
// file whose data is whole but that lacks its end chunk is whole.
TEST(PngReader, DataThatEndsEarlyGivesTheRowsFromTheTop)
{
    std::mt19937 random(8);
    std::vector<unsigned> samples(37 * 40 * 4);
    for (unsigned &v : samples) v = random() & 255;
    const auto recipe = [&](int colourType, bool interlaced) {
        PngRecipe r;
        r.width = 37, r.height = 40, r.colourType = colourType, r.interlaced = interlaced;
        r.sample = [&, colourType](int x, int y, int c) { return samples[static_cast<std::size_t>((y * 37 + x) * 4 + c)] & (colourType == 3 ? 3 : 255); };
        if (colourType == 3) r.plte = Of({10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}), r.trns = Of({255, 128});
        return r;
    };
    const QByteArray rgb = MakePng(recipe(2, false)), palette = MakePng(recipe(3, false)), interlaced = MakePng(recipe(2, true));
    const auto end = [](const QByteArray &png) { return png.lastIndexOf("IEND") - 4; };
    // The rows before the cut, the one it is in lost with it.
    for (const auto &[name, png, from, to] : {std::tuple{"cut off", rgb, end(rgb) / 2, end(rgb) / 2 + 1},
                                               std::tuple{"palette, translucent, cut off", palette, end(palette) / 2, end(palette) / 2 + 1},
                                               std::tuple{"interlaced, cut in its last pass", interlaced, end(interlaced) - 300, end(interlaced) - 299},
                                               std::tuple{"without its end chunk", rgb, end(rgb), end(rgb)}}) {
        SCOPED_TRACE(name);
        const auto whole = DecodedBy(DecodePng, png);
        TBitmap part;
        const TRowsMissing missing = DecodePng(Bytes(png.left(from)), part);
        EXPECT_TRUE(HoldsTheFirstRowsOf(part, *whole, missing)) << missing.missing << " rows missing";
        if (from == to) {
            EXPECT_EQ(missing.missing, 0);
        } else {
            EXPECT_GT(missing.missing, 0);
            EXPECT_LT(missing.missing, 40);
        }
    }
    // Data for 15 rows of the 40 the header claims: the rows it holds, but
    // for the last, which libspng gives only with the rest of the stream.
    PngRecipe fewer = recipe(2, false);
    fewer.height = 15;
    const QByteArray short15 = MakePng(fewer);
    const QByteArray claiming40 = short15.left(16) + BigEndian32(37) + BigEndian32(40) + short15.mid(24, 5);
    const QByteArray fixed = short15.left(8) + PngChunk("IHDR", claiming40.mid(16, 13)) + short15.mid(33);
    TBitmap part;
    const TRowsMissing missing = DecodePng(Bytes(fixed), part);
    EXPECT_EQ(missing.missing, 26);
    EXPECT_TRUE(HoldsTheFirstRowsOf(part, *DecodedBy(DecodePng, rgb), missing));
}

// Files whose data the quick way (all data inflated at once) does not take
// as they are: split in many chunks, followed by more data than the rows
// need, with an unknown filter, or with damage after the data. Each reads as
// the rows say or is refused as damaged, whichever way reads it.
TEST(PngReader, DataInManyChunksOrFollowedByOddChunksReadsAsOneChunkOrIsRefused)
{
    PngRecipe recipe;
    recipe.width = 53, recipe.height = 21, recipe.colourType = 2;
    std::mt19937 random(5);
    std::vector<unsigned> samples(53 * 21 * 3);
    for (unsigned &v : samples) v = random() & 255;
    recipe.sample = [&](int x, int y, int c) { return samples[static_cast<std::size_t>((y * 53 + x) * 3 + c)]; };
    const QByteArray png = MakePng(recipe);
    const auto reference = DecodedBy(DecodePng, png);
    ASSERT_TRUE(reference);

    // The file's parts: signature and header, the data chunk and its zlib stream, the end.
    const qsizetype dataAt = png.indexOf("IDAT") - 4;
    const qsizetype dataLength = qFromBigEndian<quint32>(png.constData() + dataAt);
    const QByteArray head = png.left(dataAt), data = png.mid(dataAt, dataLength + 12), stream = data.mid(8, dataLength);
    const QByteArray end = PngChunk("IEND", {});
    const auto readsAsReference = [&](const QByteArray &file) {
        const auto read = DecodedBy(DecodePng, file);
        return read && SameBitmap(*reference, *read);
    };
    QByteArray split = head;
    for (qsizetype at = 0; at < stream.size(); at += 7) split += PngChunk("IDAT", stream.mid(at, 7));
    EXPECT_TRUE(readsAsReference(split + end));
    // An ancillary chunk after the data, whole or with a broken checksum, is not looked at.
    QByteArray note = PngChunk("tEXt", QByteArray("Comment\0made here", 17));
    EXPECT_TRUE(readsAsReference(head + data + note + end));
    note[note.size() - 1] = char(note[note.size() - 1] ^ 1);
    EXPECT_TRUE(readsAsReference(head + data + note + end));

    // An unknown critical chunk after the data: libspng's verdict, as before.
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodePng(Bytes(head + data + PngChunk("CRIT", "x") + end), b); }), Damaged);

    // Rows with a filter type 5, and a stream with a row more than the header says.
    QByteArray rows = qUncompress(BigEndian32(21 * (1 + 53 * 3)) + stream);
    ASSERT_EQ(rows.size(), 21 * (1 + 53 * 3));
    QByteArray badFilter = rows;
    badFilter[(1 + 53 * 3) * 20] = 5;
    QByteArray longer = rows + rows.left(1 + 53 * 3);
    const auto withData = [&](const QByteArray &raw) { return head + PngChunk("IDAT", qCompress(raw, 6).mid(4)) + end; };
    EXPECT_EQ(MessageOf([&] { TBitmap b; DecodePng(Bytes(withData(badFilter)), b); }), Damaged);
    EXPECT_TRUE(readsAsReference(withData(longer)));
}

// Notes are not inflated without end: a small file whose notes would take
// more than the notes may (24 MiB of text), before its data or after it,
// opens with its picture and the notes before the bomb, the bomb left out;
// and libspng, which is not given them, refuses nothing over them.
TEST(PngReader, NotesThatWouldInflateWithoutEndAreLeftOutAndThePictureKept)
{
    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "not interlaced");
        PngRecipe recipe;
        recipe.width = 40, recipe.height = 30, recipe.interlaced = interlaced;
        recipe.sample = [](int x, int y, int c) { return static_cast<unsigned>(x * 5 + y * 3 + c * 80) & 255; };
        const QByteArray png = MakePng(recipe);
        const auto reference = DecodedBy(DecodePng, png);
        ASSERT_TRUE(reference);
        const qsizetype dataAt = png.indexOf("IDAT") - 4, endAt = png.indexOf("IEND") - 4;
        const auto withNotes = [&](const QByteArray &before, const QByteArray &after) {
            return png.left(dataAt) + before + png.mid(dataAt, endAt - dataAt) + after + png.mid(endAt);
        };
        // A compressed text of 24 MiB (100 KiB in the file), and one of a line.
        const auto note = [](qsizetype bytes) { return PngChunk("zTXt", QByteArray("Comment\0\0", 9) + qCompress(QByteArray(bytes, 'a'), 1).mid(4)); };
        const QByteArray bomb = note(qsizetype(24) << 20), line = note(80);

        const auto readsAsReference = [&](const QByteArray &file, int notes) {
            const auto read = DecodedBy(DecodePng, file);
            return read && SameBitmap(*reference, *read) && read->GetMetadata().comments.size() == notes;
        };
        EXPECT_TRUE(readsAsReference(withNotes(line + PngChunk("tEXt", QByteArray("Title\0x", 7)), line), 3));
        EXPECT_TRUE(readsAsReference(withNotes(line + bomb, {}), 1));
        EXPECT_TRUE(readsAsReference(withNotes({}, bomb), 0));
    }
}

// --- Writing: every form, every size, read back by three readers ---------------

namespace {

// The colour and alpha each pixel should read back with.
QRgb Expected(const TBitmap &bitmap, int x, int y)
{
    const TColor c = bitmap.GetPixel(x, y);
    const int alpha = bitmap.GetPixelFormat() == pf32bit ? bitmap.Row(y)[4 * x + 3] : 255;
    return qRgba(GetRValue(c), GetGValue(c), GetBValue(c), alpha);
}

// ImageMagick's reading as R, G, B, A bytes, or empty when it is not installed.
QByteArray MagickRgba(const QByteArray &png)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) return {};
    QProcess process;
    process.start(convert, {QStringLiteral("png:-"), QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgba:-")});
    process.write(png);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

} // namespace

TEST(PngWriter, EveryFormAndSizeReadsBackExactlyThroughOurReaderLibpngAndImageMagick)
{
    const bool magick = !QStandardPaths::findExecutable(QStringLiteral("convert")).isEmpty();
    if (!magick) std::cerr << "ImageMagick's convert is not installed: its reading is not checked\n";
    // 1 x 1; widths not a multiple of 8 or 16; heights over several strips.
    const std::pair<int, int> sizes[] = {{1, 1}, {17, 3}, {33, 7}, {1001, 700}, {3001, 400}};
    std::uint32_t seed = 1;
    for (const TPixelFormat format : AllPixelFormats)
        for (const auto &[width, height] : sizes) {
            SCOPED_TRACE(testing::Message() << BitsPerPixel(format) << " bits, " << width << " x " << height);
            auto bitmap = Noise(width, height, format, ++seed, TNoisePalette::Random);
            const bool grey = format == pf8bit && seed % 2 == 0;
            if (grey) bitmap = MakeBitmap(width, height, pf8bit), FillRandomBytes(*bitmap, seed);
            const QByteArray png = EncodePng(*bitmap);

            TBitmap back;
            DecodePng(Bytes(png), back);
            if (format == pf1bit || format == pf8bit || format == pf24bit || format == pf32bit) {
                EXPECT_TRUE(SameBitmap(*bitmap, back));
            } else {
                EXPECT_EQ(back.GetPixelFormat(), format == pf4bit ? pf8bit : pf24bit);
                EXPECT_TRUE(SameColours(*bitmap, back));
            }

            const QImage qt = QImage::fromData(png, "PNG");
            ASSERT_FALSE(qt.isNull());
            const QImage argb = qt.convertToFormat(QImage::Format_ARGB32);
            const QByteArray rgba = magick && width * height < 2000000 ? MagickRgba(png) : QByteArray();
            if (magick && width * height < 2000000) {
                ASSERT_EQ(rgba.size(), qsizetype(width) * height * 4);
            }
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const QRgb expected = Expected(*bitmap, x, y);
                    ASSERT_EQ(reinterpret_cast<const QRgb *>(argb.constScanLine(y))[x], expected) << x << ", " << y << " (libpng)";
                    if (!rgba.isEmpty()) {
                        const auto *p = reinterpret_cast<const std::uint8_t *>(rgba.constData()) + 4 * (std::size_t(y) * width + x);
                        ASSERT_EQ(qRgba(p[0], p[1], p[2], p[3]), expected) << x << ", " << y << " (ImageMagick)";
                    }
                }
        }
}

TEST(PngWriter, OpaqueAlphaIsWrittenAsRgbAndTranslucentAsRgbaWithTheColourUnderIt)
{
    auto bitmap = Noise(40, 30, pf32bit, 5, TNoisePalette::Random);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) bitmap->Row(y)[4 * x + 3] = 255;
    TBitmap back;
    DecodePng(Bytes(EncodePng(*bitmap)), back);
    EXPECT_EQ(back.GetPixelFormat(), pf24bit);
    EXPECT_TRUE(SameColours(*bitmap, back));
    bitmap->Row(29)[4 * 39 + 3] = 0;
    DecodePng(Bytes(EncodePng(*bitmap)), back);
    EXPECT_TRUE(SameBitmap(*bitmap, back));
}

TEST(PngWriter, AFlatPictureCompressesToAlmostNothing)
{
    const auto flat = MakeBitmap(2000, 2000, pf24bit);
    EXPECT_LT(EncodePng(*flat).size(), 40000);
}

TEST(PngWriter, EmptyPicturesAreRefused)
{
    TBitmap empty;
    EXPECT_EQ(MessageOf([&] { EncodePng(empty); }), "there is no picture to save");
}

// --- Vector kernels against the plain ones -------------------------------------

TEST(PngKernels, FiltersAndChannelSwapsEqualThePlainLoopsAtEveryLengthAndStep)
{
    std::mt19937 random(11);
    std::vector<std::uint8_t> row(300), prior(300);
    for (int round = 0; round < 4; ++round) {
        for (auto &b : row) b = static_cast<std::uint8_t>(round == 3 ? (random() & 1) * 255 : random());
        for (auto &b : prior) b = static_cast<std::uint8_t>(round == 2 ? 255 - random() % 3 : random());
        for (const TPngFilter filter : {TPngFilter::None, TPngFilter::Sub, TPngFilter::Up, TPngFilter::Average, TPngFilter::Paeth})
            for (int step = 1; step <= 4; ++step)
                for (std::size_t bytes : {0, 1, 3, 15, 16, 17, 31, 32, 33, 100, 299}) {
                    SCOPED_TRACE(testing::Message() << "filter " << int(filter) << ", step " << step << ", " << bytes << " bytes");
                    ExpectEveryKernelAsPlain([&] {
                        std::vector<std::uint8_t> out(bytes);
                        const auto sum = FilterPngRow(filter, row.data(), prior.data(), bytes, step, out.data());
                        return std::pair{sum, out};
                    });
                }
        for (std::size_t pixels : {0, 1, 4, 5, 6, 11, 16, 21, 74}) {
            SCOPED_TRACE(testing::Message() << pixels << " pixels");
            ExpectEveryKernelAsPlain([&] {
                std::vector<std::uint8_t> a(300, 7);
                SwapRedBlue24(row.data(), a.data(), pixels);
                return a;
            });
            ExpectEveryKernelAsPlain([&] {
                std::vector<std::uint8_t> a(300, 7);
                SwapRedBlue32(row.data(), a.data(), pixels);
                return a;
            });
            // In place, too.
            ExpectEveryKernelAsPlain([&] {
                std::vector<std::uint8_t> a(row);
                SwapRedBlue24(a.data(), a.data(), pixels);
                return a;
            });
        }
    }
}

TEST(PngKernels, UnfilteringUndoesEveryFilterAtEveryLengthAndStepAsThePlainLoops)
{
    std::mt19937 random(12);
    std::vector<std::uint8_t> row(300), prior(300), filtered(300);
    for (int round = 0; round < 3; ++round) {
        for (auto &b : row) b = static_cast<std::uint8_t>(round == 2 ? (random() & 1) * 255 : random());
        for (auto &b : prior) b = static_cast<std::uint8_t>(round == 1 ? 255 - random() % 3 : random());
        for (const TPngFilter filter : {TPngFilter::None, TPngFilter::Sub, TPngFilter::Up, TPngFilter::Average, TPngFilter::Paeth})
            for (int step : {1, 2, 3, 4, 6, 8})
                for (std::size_t bytes : {0, 1, 3, 4, 6, 8, 12, 24, 99, 296}) {
                    SCOPED_TRACE(testing::Message() << "filter " << int(filter) << ", step " << step << ", " << bytes << " bytes");
                    FilterPngRow(filter, row.data(), prior.data(), bytes, step, filtered.data());
                    for (TVectorLevel level : VectorLevelsToCompare()) {
                        const TVectorLevelHeld held(level);
                        std::vector<std::uint8_t> out(300, 0xA5);
                        ASSERT_TRUE(UnfilterPngRow(static_cast<unsigned>(filter), filtered.data(), prior.data(), bytes, step, out.data()));
                        ASSERT_TRUE(std::equal(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(bytes), out.begin())) << "level " << int(level);
                        // Nothing written past the row.
                        ASSERT_EQ(out[bytes], 0xA5) << "level " << int(level);
                    }
                }
    }
    std::vector<std::uint8_t> out(300);
    EXPECT_FALSE(UnfilterPngRow(5, row.data(), prior.data(), 12, 3, out.data()));
}

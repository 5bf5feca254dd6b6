// PNG through libspng and our parallel writer: every colour type and bit
// depth opens as Qt's reader opens it, every picture written reads back
// exactly through libpng (Qt), ImageMagick and our reader, and damaged or
// lying files are refused with their reason.
#include "platform/files/png_codec.h"
#include "platform/files/png_filters.h"
#include "platform/files/qt_codec.h"
#include "support/pictures.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

const std::string Damaged = "the picture data is damaged or incomplete";

std::span<const std::uint8_t> Bytes(const QByteArray &data)
{
    return {reinterpret_cast<const std::uint8_t *>(data.constData()), static_cast<std::size_t>(data.size())};
}

std::string MessageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Exception &error) {
        return error.Message().toStdString();
    }
    return "(no exception)";
}

QByteArray Of(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes) out += char(b);
    return out;
}

QByteArray BigEndian32(std::uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

std::uint32_t Crc32(const QByteArray &bytes)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

QByteArray Chunk(const char *type, const QByteArray &data)
{
    const QByteArray typed = QByteArray(type) + data;
    return BigEndian32(static_cast<std::uint32_t>(data.size())) + typed + BigEndian32(Crc32(typed));
}

int Channels(int colourType) { return colourType == 0 || colourType == 3 ? 1 : colourType == 4 ? 2 : colourType == 2 ? 3 : 4; }

// A PNG file made here, independently of the code under test: samples
// packed as the format says, rows with every filter type in turn (plain
// filters), Adam7 passes when interlaced.
struct PngSpec {
    int width = 0, height = 0, depth = 8, colourType = 2;
    bool interlaced = false;
    QByteArray plte, trns;
    // The sample of channel c at (x, y), within the depth's range.
    std::function<unsigned(int x, int y, int c)> sample;
};

QByteArray MakePng(const PngSpec &spec)
{
    const int channels = Channels(spec.colourType);
    const int bitsPerPixel = channels * spec.depth;
    const int step = std::max(1, bitsPerPixel / 8);
    struct Pass {
        int x0, y0, dx, dy;
    };
    const std::vector<Pass> passes = spec.interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                                                     : std::vector<Pass>{{0, 0, 1, 1}};
    QByteArray raw;
    int filter = 0;
    for (const Pass &p : passes) {
        const int pw = (spec.width - p.x0 + p.dx - 1) / p.dx, ph = (spec.height - p.y0 + p.dy - 1) / p.dy;
        if (pw <= 0 || ph <= 0) continue;
        const std::size_t rowBytes = (static_cast<std::size_t>(pw) * bitsPerPixel + 7) / 8;
        std::vector<std::uint8_t> prior(rowBytes, 0), row(rowBytes), out(rowBytes);
        for (int py = 0; py < ph; ++py) {
            std::fill(row.begin(), row.end(), 0);
            std::size_t bit = 0;
            for (int px = 0; px < pw; ++px)
                for (int c = 0; c < channels; ++c, bit += static_cast<std::size_t>(spec.depth)) {
                    const unsigned v = spec.sample(p.x0 + px * p.dx, p.y0 + py * p.dy, c);
                    if (spec.depth == 16) {
                        row[bit / 8] = static_cast<std::uint8_t>(v >> 8);
                        row[bit / 8 + 1] = static_cast<std::uint8_t>(v);
                    } else {
                        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - spec.depth - bit % 8));
                    }
                }
            const auto type = static_cast<TPngFilter>(filter++ % 5);
            FilterPngRowPlain(type, row.data(), prior.data(), rowBytes, step, out.data());
            raw += char(type);
            raw += QByteArray(reinterpret_cast<const char *>(out.data()), static_cast<qsizetype>(rowBytes));
            prior = row;
        }
    }
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += Chunk("IHDR", BigEndian32(static_cast<std::uint32_t>(spec.width)) + BigEndian32(static_cast<std::uint32_t>(spec.height)) +
                             char(spec.depth) + char(spec.colourType) + char(0) + char(0) + char(spec.interlaced ? 1 : 0));
    if (!spec.plte.isEmpty()) png += Chunk("PLTE", spec.plte);
    if (!spec.trns.isEmpty()) png += Chunk("tRNS", spec.trns);
    // qCompress puts the length before the zlib stream.
    png += Chunk("IDAT", qCompress(raw, 6).mid(4));
    return png + Chunk("IEND", {});
}

std::unique_ptr<TBitmap> OursOf(const QByteArray &png)
{
    auto bitmap = std::make_unique<TBitmap>();
    DecodePng(Bytes(png), *bitmap);
    return bitmap;
}

std::unique_ptr<TBitmap> QtOf(const QByteArray &png)
{
    auto bitmap = std::make_unique<TBitmap>();
    DecodeWithQt(Bytes(png), *bitmap);
    return bitmap;
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
    for (int x = 0; x < std::min(12, a.BytesPerRow()); ++x) s += " " + std::to_string(a.Row(0)[x]);
    return s;
}

// Same form, palette and bytes as Qt's reading, alpha included.
void ExpectAsQtReads(const QByteArray &png)
{
    const auto ours = OursOf(png);
    const auto qt = QtOf(png);
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
                PngSpec spec;
                spec.width = width, spec.height = height, spec.depth = kind.depth, spec.colourType = kind.colourType, spec.interlaced = interlaced;
                std::vector<unsigned> samples(static_cast<std::size_t>(width * height * 4));
                for (unsigned &s : samples) s = random() & max;
                spec.sample = [&](int x, int y, int c) { return samples[static_cast<std::size_t>((y * width + x) * 4 + c)]; };
                if (kind.colourType == 3)
                    for (unsigned i = 0; i <= max; ++i) spec.plte += Of({int(random() & 255), int(random() & 255), int(random() & 255)});
                ExpectAsQtReads(MakePng(spec));

                // Every alpha 255: the smallest opaque form.
                if (kind.colourType == 4 || kind.colourType == 6) {
                    const int alphaChannel = Channels(kind.colourType) - 1;
                    for (int i = 0; i < width * height; ++i) samples[static_cast<std::size_t>(i * 4 + alphaChannel)] = max;
                    ExpectAsQtReads(MakePng(spec));
                }
                // A palette of greys; a transparent entry that some pixel uses, then none does.
                if (kind.colourType == 3) {
                    PngSpec grey = spec;
                    grey.plte.clear();
                    for (unsigned i = 0; i <= max; ++i) grey.plte += QByteArray(3, char(random()));
                    ExpectAsQtReads(MakePng(grey));
                    PngSpec trns = spec;
                    trns.trns = Of({255, samples[0] == 0 ? 255 : 0, 128}).left(static_cast<qsizetype>(std::min(3u, max + 1)));
                    ExpectAsQtReads(MakePng(trns));
                    trns.trns = QByteArray(static_cast<qsizetype>(max + 1), char(255));
                    ExpectAsQtReads(MakePng(trns));
                }
                // A transparent level or colour that the first pixel has, then one no pixel has.
                if (kind.colourType == 0 || kind.colourType == 2) {
                    PngSpec trns = spec;
                    const int channels = Channels(kind.colourType);
                    for (int c = 0; c < channels; ++c) {
                        const unsigned v = samples[static_cast<std::size_t>(c)];
                        trns.trns += Of({int(v >> 8), int(v & 255)});
                    }
                    // Qt reads 16-bit RGB with a transparent colour as if it had four channels.
                    if (kind.colourType == 2 && kind.depth == 16) continue;
                    ExpectAsQtReads(MakePng(trns));
                    for (int i = 0; i < width * height; ++i) samples[static_cast<std::size_t>(i * 4)] &= ~1u & max;
                    trns.trns = Of({0, int(1 & max)}).repeated(channels);
                    if (max > 1) ExpectAsQtReads(MakePng(trns));
                }
            }
}

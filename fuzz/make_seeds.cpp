// Writes the fuzzers' seed corpus: small valid files of every variant we
// read, made by our own writers, by Qt's writers and byte by byte.
// Usage: make_fuzz_seeds <folder>
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/picture_files.h"
#include "platform/files/qt/qt_codec.h"
#include "support/file_builders.h"
#include "support/pictures.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageWriter>

#include <cstdio>
#include <random>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

QString folder;
int written = 0;

void Write(const QString &name, const QByteArray &bytes)
{
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    ++written;
}

void Write(const QString &name, const TBytes &bytes)
{
    Write(name, QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

// Random pixels; palettes of random colours; alpha varied in pf32bit.
std::unique_ptr<TBitmap> Picture(int width, int height, TPixelFormat format, std::uint32_t seed)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Allocate(width, height, format);
    std::mt19937 random(seed);
    TPalette palette{};
    for (TColor &c : palette) c = static_cast<TColor>(random() & 0xFFFFFF);
    bitmap->SetPalette(palette);
    const std::size_t bytes = (static_cast<std::size_t>(width) * BitsPerPixel(format) + 7) / 8;
    for (int y = 0; y < height; ++y)
        for (std::size_t i = 0; i < bytes; ++i) bitmap->Row(y)[i] = static_cast<std::uint8_t>(random());
    return bitmap;
}

const char *Name(TPixelFormat format)
{
    switch (format) {
    case pf1bit: return "1";
    case pf4bit: return "4";
    case pf8bit: return "8";
    case pf15bit: return "15";
    case pf16bit: return "16";
    case pf24bit: return "24";
    default: return "32";
    }
}

std::vector<std::uint32_t> Colours(int count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint32_t> colours(static_cast<std::size_t>(count));
    for (auto &c : colours) c = random() & 0xFFFFFF;
    return colours;
}

TBytes RandomBytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    TBytes bytes(count);
    for (auto &b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

void OurBmps()
{
    const int sizes[][2] = {{1, 1}, {7, 3}, {13, 5}};
    std::uint32_t seed = 1;
    for (TPixelFormat format : AllPixelFormats)
        for (const auto &size : sizes)
            Write(QStringLiteral("ours-%1bit-%2x%3.bmp").arg(QLatin1String(Name(format))).arg(size[0]).arg(size[1]),
                  EncodeBmp(*Picture(size[0], size[1], format, seed++)));
}

void HandMadeBmps()
{
    // Run lengths: runs, an absolute run with its padding, a delta, ends of line and of picture.
    Write(QStringLiteral("rle8.bmp"), BmpFile({.width = 8, .height = 4, .bits = 8, .compression = 1, .palette = Colours(4, 1),
                                            .pixels = {3, 1, 0, 4, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 5, 3, 0, 0, 0, 1}}));
    Write(QStringLiteral("rle4.bmp"), BmpFile({.width = 8, .height = 4, .bits = 4, .compression = 2, .palette = Colours(16, 2),
                                            .pixels = {5, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 1, 1, 4, 0xAB, 0, 0, 0, 1}}));
    // The old core header: 16-bit sizes, 3-byte palette entries.
    for (std::uint32_t bits : {1u, 4u, 8u, 24u}) {
        const int entries = bits <= 8 ? 1 << bits : 0;
        Write(QStringLiteral("core-%1bit.bmp").arg(bits),
              BmpFile({.headerSize = 12, .width = 5, .height = 3, .bits = bits, .palette = Colours(entries, bits),
                    .pixels = RandomBytes(3 * ((5 * bits + 31) / 32 * 4), bits)}));
    }
    // OS/2 2.x headers, short and full.
    Write(QStringLiteral("os2-16-8bit.bmp"), BmpFile({.headerSize = 16, .width = 4, .height = 2, .bits = 8,
                                                   .palette = Colours(256, 3), .pixels = RandomBytes(8, 3)}));
    Write(QStringLiteral("os2-64-rle4.bmp"), BmpFile({.headerSize = 64, .width = 6, .height = 2, .bits = 4, .compression = 2,
                                                   .palette = Colours(16, 4), .pixels = {6, 0x12, 0, 0, 3, 0x45, 0, 1}}));
    // Bit fields after a 40-byte header, and inside the longer headers.
    Write(QStringLiteral("bitfields-565.bmp"), BmpFile({.width = 3, .height = 2, .bits = 16, .compression = 3,
                                                     .masks = {0xF800, 0x07E0, 0x001F}, .palette = {}, .pixels = RandomBytes(16, 5)}));
    Write(QStringLiteral("bitfields-3-10-3.bmp"), BmpFile({.width = 3, .height = -2, .bits = 16, .compression = 3,
                                                        .masks = {0xE000, 0x1FF8, 0x0007}, .palette = {}, .pixels = RandomBytes(16, 6)}));
    Write(QStringLiteral("alphabitfields-4444.bmp"), BmpFile({.width = 3, .height = 2, .bits = 16, .compression = 6,
                                                          .masks = {0x0F00, 0x00F0, 0x000F, 0xF000}, .palette = {}, .pixels = RandomBytes(16, 7)}));
    Write(QStringLiteral("v2-565.bmp"), BmpFile({.headerSize = 52, .width = 3, .height = 2, .bits = 16, .compression = 3,
                                              .masks = {0xF800, 0x07E0, 0x001F}, .palette = {}, .pixels = RandomBytes(16, 8)}));
    Write(QStringLiteral("v3-8888.bmp"), BmpFile({.headerSize = 56, .width = 2, .height = 2, .bits = 32, .compression = 3,
                                               .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, .palette = {}, .pixels = RandomBytes(16, 9)}));
    Write(QStringLiteral("v3-10-10-10-2.bmp"), BmpFile({.headerSize = 56, .width = 2, .height = 2, .bits = 32, .compression = 3,
                                                     .masks = {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000}, .palette = {}, .pixels = RandomBytes(16, 10)}));
    Write(QStringLiteral("v4-4444.bmp"), BmpFile({.headerSize = 108, .width = 3, .height = 2, .bits = 16, .compression = 3,
                                               .masks = {0x0F00, 0x00F0, 0x000F, 0xF000}, .palette = {}, .pixels = RandomBytes(16, 11)}));
    Write(QStringLiteral("v5-32bit-rgb.bmp"), BmpFile({.headerSize = 124, .width = 2, .height = -2, .bits = 32,
                                                    .palette = {}, .pixels = RandomBytes(16, 12)}));
    Write(QStringLiteral("v5-rle8.bmp"), BmpFile({.headerSize = 124, .width = 5, .height = 2, .bits = 8, .compression = 1,
                                               .palette = Colours(3, 13), .pixels = {5, 2, 0, 0, 0, 3, 0, 1, 2, 0}}));
    // Two bits a pixel, a short palette, and 24 bits top row first.
    Write(QStringLiteral("2bit.bmp"), BmpFile({.width = 9, .height = 2, .bits = 2, .palette = Colours(4, 14), .pixels = RandomBytes(8, 14)}));
    Write(QStringLiteral("8bit-3-colours.bmp"), BmpFile({.width = 5, .height = 2, .bits = 8, .colours = 3,
                                                      .palette = Colours(3, 15), .pixels = {0, 1, 2, 1, 0, 0, 0, 0, 2, 2, 1, 0, 0, 0, 0, 0}}));
    Write(QStringLiteral("24bit-top-down.bmp"), BmpFile({.width = 3, .height = -3, .bits = 24, .palette = {}, .pixels = RandomBytes(36, 16)}));
    // 64 bits a pixel: linear fixed point, values below 0 and beyond 1.0 among them.
    Write(QStringLiteral("v3-64bit.bmp"), BmpFile({.width = 3, .height = 2, .bits = 64, .palette = {}, .pixels = RandomBytes(48, 17)}));
    // OS/2's fax Huffman code, its rows in each of the layouts read, and
    // runs that need the extended make-up codes.
    const std::vector<std::vector<int>> rows = {{3, 2, 14}, {0, 19}, {19}, {5, 1, 1, 1, 1, 10}};
    const struct {
        const char *name;
        TFaxRowStart start;
    } layouts[] = {{"os2-huffman.bmp", TFaxRowStart::AfterLastRow}, {"os2-huffman-bytes.bmp", TFaxRowStart::OnAByte},
                   {"os2-huffman-eol.bmp", TFaxRowStart::AfterEndOfLine}};
    for (const auto &layout : layouts)
        Write(QLatin1String(layout.name), BmpFile({.headerSize = 64, .width = 19, .height = 4, .bits = 1, .compression = 3,
                                                   .palette = {0xFFFFFF, 0x000000}, .pixels = FaxCoded(rows, layout.start)}));
    Write(QStringLiteral("os2-huffman-wide.bmp"), BmpFile({.headerSize = 64, .width = 6000, .height = 2, .bits = 1, .compression = 3,
                                                          .palette = {0x000000, 0xFFFFFF},
                                                          .pixels = FaxCoded({{1900, 4100}, {0, 5999, 1}}, TFaxRowStart::AfterLastRow)}));
}

// A GIF of one image over a colour table of 2^(depth) entries, its LZW data
// written as literal codes.
QByteArray Gif(int width, int height, int depth, std::uint32_t seed, int transparent, bool local)
{
    QByteArray gif(transparent >= 0 ? "GIF89a" : "GIF87a");
    const auto put16 = [&](int v) { gif += char(v & 0xFF); gif += char(v >> 8); };
    const int entries = 1 << depth;
    std::mt19937 random(seed);
    const auto table = [&] {
        for (int i = 0; i < 3 * entries; ++i) gif += char(random());
    };
    put16(width);
    put16(height);
    gif += char(local ? 0x70 : 0xF0 | (depth - 1));
    gif += QByteArray(2, '\0');
    if (!local) table();
    if (transparent >= 0) gif += QByteArray("\x21\xF9\x04\x01\x00\x00", 6) + char(transparent) + char(0);
    gif += ',';
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    gif += char(local ? 0x80 | (depth - 1) : 0);
    if (local) table();
    std::vector<int> indices(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int &index : indices) index = static_cast<int>(random() % static_cast<unsigned>(entries));
    gif += GifLiteralImageData(indices, std::max(2, depth));
    gif += ';';
    return gif;
}

// The image in Qt's own writer for `format`, or nothing where none is installed.
QByteArray QtWritten(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    return writer.write(image) ? bytes : QByteArray();
}

void OtherFormats()
{
    const struct {
        const char *name;
        TPictureFileFormat format;
        TPixelFormat pixels;
    } ours[] = {
        {"png-1bit.png", TPictureFileFormat::Png, pf1bit},     {"png-8bit.png", TPictureFileFormat::Png, pf8bit},
        {"png-24bit.png", TPictureFileFormat::Png, pf24bit},   {"png-32bit.png", TPictureFileFormat::Png, pf32bit},
        {"jpeg-24bit.jpg", TPictureFileFormat::Jpeg, pf24bit}, {"pbm.pbm", TPictureFileFormat::Pbm, pf1bit},
        {"pgm.pgm", TPictureFileFormat::Pgm, pf8bit},          {"ppm.ppm", TPictureFileFormat::Ppm, pf24bit},
        {"tiff-1bit.tif", TPictureFileFormat::Tiff, pf1bit},   {"tiff-24bit.tif", TPictureFileFormat::Tiff, pf24bit},
        {"tiff-32bit.tif", TPictureFileFormat::Tiff, pf32bit}, {"webp-24bit.webp", TPictureFileFormat::Webp, pf24bit},
        {"webp-32bit.webp", TPictureFileFormat::Webp, pf32bit},
    };
    std::uint32_t seed = 100;
    for (const auto &c : ours) Write(QLatin1String(c.name), EncodePicture(*Picture(9, 5, c.pixels, seed++), c.format));
    // A smooth grey JPEG, the usual kind, beside the colour noise above.
    QImage grey(16, 8, QImage::Format_Grayscale8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) grey.scanLine(y)[x] = static_cast<uchar>(x * 16 + y);
    Write(QStringLiteral("jpeg-grey.jpg"), QtWritten(grey, "jpg"));

    QImage colour(6, 4, QImage::Format_ARGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) colour.setPixel(x, y, qRgba(x * 40, y * 60, 200, x == 0 ? 0 : 255));
    for (const char *format : {"ico", "cur", "icns", "xpm", "xbm", "bmp", "tga"}) {
        const QByteArray bytes = QtWritten(format == QByteArrayView("xbm") ? colour.convertToFormat(QImage::Format_Mono) : colour, format);
        if (!bytes.isEmpty()) Write(QStringLiteral("qt-written.%1").arg(QLatin1String(format)), bytes);
    }
    // Plain-text portable maps and a 16-bit grey one.
    Write(QStringLiteral("ascii.pbm"), QByteArray("P1\n# comment\n4 2\n0 1 1 0\n1 0 0 1\n"));
    Write(QStringLiteral("ascii.pgm"), QByteArray("P2\n3 2\n255\n0 128 255\n7 8 9\n"));
    Write(QStringLiteral("ascii.ppm"), QByteArray("P3\n2 1\n15\n15 0 0 0 15 7\n"));
    Write(QStringLiteral("grey16.pgm"), QByteArray("P5 2 2 65535\n", 13) + QByteArray("\x12\x34\xFF\xFF\x00\x00\x80\x00", 8));

    Write(QStringLiteral("gif87-global.gif"), Gif(7, 3, 2, 1, -1, false));
    Write(QStringLiteral("gif89-transparent.gif"), Gif(5, 4, 3, 2, 1, false));
    Write(QStringLiteral("gif87-local.gif"), Gif(6, 2, 1, 3, -1, true));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    try {
        OurBmps();
        HandMadeBmps();
        OtherFormats();
    } catch (const Exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%d seeds in %s\n", written, argv[1]);
    return 0;
}

// Writes the fuzzers' seed corpus: small valid files of every variant we
// read, made by our own writers, by Qt's writers, by the formats' own
// encoders (heif-enc, avifenc, cjxl and ImageMagick's convert, where they are
// installed) and byte by byte; and files cut short or lying about
// themselves, for the readers that take them.
// Usage: make_fuzz_seeds <folder>
#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/picture_files.h"
#include "platform/files/qt/qt_codec.h"
#include "support/file_builders.h"
#include "support/tools.h"
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

// A seed that does not open as it is (cut short, lying about itself), in
// the folder's hostile/ folder: the fuzzer reads it with the others.
void WriteHostile(const QString &name, const QByteArray &bytes)
{
    QDir(folder).mkpath(QStringLiteral("hostile"));
    Write(QStringLiteral("hostile/") + name, bytes);
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

// The picture as a PNG for the encoders' input: smooth colour with noise.
QByteArray PngForEncoders(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    std::mt19937 random(42);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 255 / width, y * 255 / height, int(random() & 63) + 96, alpha ? (x + y) * 255 / (width + height) : 255));
    return QtWritten(image, "png");
}

// The file a tool makes of a picture, under `name` with the file's first
// half beside it; nothing where the tool is not installed.
QByteArray MadeByTool(const QString &name, const QString &program, const QStringList &arguments, const QByteArray &png)
{
    if (!ToolFound(program)) {
        std::fprintf(stderr, "%s is not installed: no %s seed (scripts/install-dependencies.sh test)\n", qPrintable(program), qPrintable(name));
        return {};
    }
    const QByteArray file = MadeBy(program, arguments, png, QStringLiteral("in.png"), name);
    if (file.isEmpty()) {
        std::fprintf(stderr, "%s failed to write %s\n", qPrintable(program), qPrintable(name));
        return {};
    }
    Write(name, file);
    WriteHostile(QStringLiteral("cut-") + name, file.left(file.size() / 2));
    return file;
}

// The file with a big-endian 32-bit word at `at` replaced.
QByteArray WithWord(QByteArray file, qsizetype at, std::uint32_t word)
{
    if (at >= 0 && at + 4 <= file.size()) file.replace(at, 4, BigEndian32(word));
    return file;
}

// HEIF and AVIF: still, with alpha, a grid of tiles; a grid claiming more
// tiles than it holds; sizes (ispe) that lie, beyond the limit and within it.
void HeifSeeds()
{
    const QByteArray photo = PngForEncoders(64, 48, false), translucent = PngForEncoders(32, 24, true), big = PngForEncoders(128, 128, false);
    const QByteArray heic = MadeByTool(QStringLiteral("still.heic"), QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("50"), QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")}, photo);
    MadeByTool(QStringLiteral("alpha.heic"), QStringLiteral("heif-enc"), {QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")}, translucent);
    const QByteArray avif = MadeByTool(QStringLiteral("still.avif"), QStringLiteral("avifenc"), {QStringLiteral("-s"), QStringLiteral("10"), QStringLiteral("IN"), QStringLiteral("OUT")}, photo);
    const QByteArray grid = MadeByTool(QStringLiteral("grid.avif"), QStringLiteral("avifenc"), {QStringLiteral("-s"), QStringLiteral("10"), QStringLiteral("--grid"), QStringLiteral("2x2"), QStringLiteral("IN"), QStringLiteral("OUT")}, big);
    // The grid's descriptor: version, flags, rows - 1, columns - 1, then
    // its 16-bit size; rows - 1 of 2 claims a third row of tiles.
    const qsizetype descriptor = grid.indexOf(QByteArray("\0\0\1\1\0\x80\0\x80", 8));
    if (descriptor >= 0) {
        QByteArray moreTiles = grid;
        moreTiles[descriptor + 2] = 2;
        moreTiles[descriptor + 7] = char(0xC0);
        WriteHostile(QStringLiteral("grid-more-tiles.avif"), moreTiles);
    }
    for (const auto &[name, file] : {std::pair{QStringLiteral("still.heic"), heic}, std::pair{QStringLiteral("still.avif"), avif}}) {
        const qsizetype ispe = file.indexOf("ispe");
        if (ispe < 0) continue;
        WriteHostile(QStringLiteral("huge-") + name, WithWord(WithWord(file, ispe + 8, 30000), ispe + 12, 30000));
        WriteHostile(QStringLiteral("larger-") + name, WithWord(WithWord(file, ispe + 8, 640), ispe + 12, 480));
    }
}

// JPEG XL: lossy, lossless with alpha; bare codestreams claiming 2^30 x
// 2^30 and sizes within the limit that their data does not hold.
void JxlSeeds()
{
    MadeByTool(QStringLiteral("lossy.jxl"), QStringLiteral("cjxl"), {QStringLiteral("IN"), QStringLiteral("OUT"), QStringLiteral("-d"), QStringLiteral("2")}, PngForEncoders(64, 48, false));
    MadeByTool(QStringLiteral("lossless-alpha.jxl"), QStringLiteral("cjxl"), {QStringLiteral("IN"), QStringLiteral("OUT"), QStringLiteral("-d"), QStringLiteral("0")}, PngForEncoders(32, 24, true));
    WriteHostile(QStringLiteral("claims-2^30.jxl"), CodestreamClaiming(1u << 30, 1u << 30));
    WriteHostile(QStringLiteral("claims-20000.jxl"), CodestreamClaiming(20000, 20000));
    WriteHostile(QStringLiteral("claims-3000.jxl"), CodestreamClaiming(3000, 2000));
}

// TIFF layouts ImageMagick writes: 16 bits, tiles, planes apart, CMYK,
// a palette, floating point, an uncompressed strip larger than a read of
// the file's small pieces; and one whose size lies.
void TiffSeeds()
{
    const QByteArray photo = PngForEncoders(24, 16, false), translucent = PngForEncoders(24, 16, true), wide = PngForEncoders(200, 100, false);
    const struct {
        const char *name;
        QStringList options;
        const QByteArray &png;
    } layouts[] = {
        {"deep.tif", {QStringLiteral("-depth"), QStringLiteral("16")}, translucent},
        {"tiled.tif", {QStringLiteral("-define"), QStringLiteral("tiff:tile-geometry=16x16"), QStringLiteral("-compress"), QStringLiteral("lzw")}, photo},
        {"planes.tif", {QStringLiteral("-interlace"), QStringLiteral("plane"), QStringLiteral("-compress"), QStringLiteral("zip")}, translucent},
        {"cmyk.tif", {QStringLiteral("-colorspace"), QStringLiteral("cmyk")}, photo},
        {"palette.tif", {QStringLiteral("-type"), QStringLiteral("palette"), QStringLiteral("-compress"), QStringLiteral("rle")}, photo},
        {"float.tif", {QStringLiteral("-define"), QStringLiteral("quantum:format=floating-point"), QStringLiteral("-depth"), QStringLiteral("32")}, photo},
        {"grey4.tif", {QStringLiteral("-colorspace"), QStringLiteral("gray"), QStringLiteral("-depth"), QStringLiteral("4")}, photo},
        {"deep-strip.tif", {QStringLiteral("-depth"), QStringLiteral("16"), QStringLiteral("-compress"), QStringLiteral("none"), QStringLiteral("-define"), QStringLiteral("tiff:rows-per-strip=100")}, wide},
    };
    for (const auto &layout : layouts)
        MadeByTool(QLatin1String(layout.name), QStringLiteral("convert"), QStringList{QStringLiteral("IN")} + layout.options + QStringList{QStringLiteral("OUT")}, layout.png);
    WriteHostile(QStringLiteral("tiff-claims-60000.tif"), HandMadeTiff({.width = 60000, .height = 60000, .rowsPerStrip = 1, .strips = {QByteArray(64, '\x40')}}));
    WriteHostile(QStringLiteral("tiff-claims-4000.tif"), HandMadeTiff({.width = 4000, .height = 3000, .rowsPerStrip = 16, .strips = {QByteArray(64, '\x40')}}));
}

// GIF: interlaced, a small image on a larger screen, a screen that lies,
// and cut.
void GifSeeds()
{
    TGifRecipe interlaced;
    interlaced.globalTable = {qRgb(200, 10, 10), qRgb(10, 200, 10), qRgb(10, 10, 200), qRgb(250, 250, 0)};
    interlaced.width = interlaced.screenWidth = 9, interlaced.height = interlaced.screenHeight = 13, interlaced.interlaced = true;
    for (int i = 0; i < 9 * 13; ++i) interlaced.indices.push_back(i % 4);
    const QByteArray file = GifFile(interlaced);
    Write(QStringLiteral("gif-interlaced.gif"), file);
    WriteHostile(QStringLiteral("gif-interlaced-cut.gif"), file.left(file.size() * 2 / 3));
    TGifRecipe onScreen = interlaced;
    onScreen.interlaced = false, onScreen.screenWidth = 20, onScreen.screenHeight = 20, onScreen.left = 5, onScreen.top = 3, onScreen.transparent = 1;
    Write(QStringLiteral("gif-on-a-screen.gif"), GifFile(onScreen));
    TGifRecipe lying = interlaced;
    lying.interlaced = false, lying.screenWidth = 60000, lying.screenHeight = 60000;
    WriteHostile(QStringLiteral("gif-screen-60000.gif"), GifFile(lying));
    lying.screenWidth = 3000, lying.screenHeight = 3000;
    WriteHostile(QStringLiteral("gif-screen-3000.gif"), GifFile(lying));
}

// TGA of every kind, plain and coded; cut, lying about its size, with a
// run past its end.
void TgaSeeds()
{
    std::uint32_t seed = 300;
    const struct {
        const char *name;
        TTgaRecipe recipe;
    } kinds[] = {
        {"colour.tga", {}},
        {"colour-coded-top.tga", {.coding = TTgaCoding::RunLengths, .fromTop = true}},
        {"alpha-coded.tga", {.coding = TTgaCoding::RunLengths, .bits = 32, .alphaBits = 8, .fromRight = true}},
        {"16bit.tga", {.bits = 16}},
        {"mapped-coded.tga", {.type = TTgaType::Mapped, .coding = TTgaCoding::RunLengths, .bits = 8, .idLength = 5}},
        {"grey-alpha.tga", {.type = TTgaType::Grey, .bits = 16}},
        {"footer.tga", {.footer = TTgaFooter::Version2}},
        {"mapped-from-50.tga", {.type = TTgaType::Mapped, .bits = 8, .mapFirst = 50}},
    };
    for (const auto &kind : kinds) Write(QLatin1String(kind.name), TgaFile(kind.recipe, seed++));
    const QByteArray coded = TgaFile({.coding = TTgaCoding::RunLengths, .width = 40, .height = 30}, seed++);
    WriteHostile(QStringLiteral("cut-coded.tga"), coded.left(coded.size() / 2));
    QByteArray huge = TgaFile({.width = 2, .height = 2}, seed++), large = huge;
    huge[12] = huge[13] = huge[14] = huge[15] = char(0xFF);
    WriteHostile(QStringLiteral("claims-65535.tga"), huge);
    large[13] = large[15] = char(0x0F);
    WriteHostile(QStringLiteral("claims-3842.tga"), large);
    QByteArray runPast = TgaFile({.coding = TTgaCoding::RunLengths, .width = 2, .height = 2}, seed++);
    runPast.truncate(18);
    WriteHostile(QStringLiteral("run-past-end.tga"), runPast + QByteArray("\x84\1\2\3", 4));
}

// WebP lossless with alpha, as Qt's writer writes it at quality 100: whole
// and cut.
void WebpSeeds()
{
    const QByteArray lossless = EncodePicture(*Picture(40, 30, pf32bit, 400), TPictureFileFormat::Webp);
    Write(QStringLiteral("webp-lossless-alpha.webp"), lossless);
    WriteHostile(QStringLiteral("webp-lossless-alpha-cut.webp"), lossless.left(lossless.size() / 2));
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
        HeifSeeds();
        JxlSeeds();
        TiffSeeds();
        GifSeeds();
        TgaSeeds();
        WebpSeeds();
    } catch (const Exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%d seeds in %s\n", written, argv[1]);
    return 0;
}

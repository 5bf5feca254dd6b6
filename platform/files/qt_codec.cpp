// Pictures through Qt's image plugins: decoding into and encoding from our bitmaps.
#include "platform/files/qt_codec.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr double MiB = 1024.0 * 1024.0;

QString NotAPicture() { return QStringLiteral("the file is not a picture in a format this program reads"); }
QString Damaged() { return QStringLiteral("the picture data is damaged or incomplete"); }
QString NoMemoryToConvert() { return QStringLiteral("there is not enough memory to convert the picture"); }

TColor ColourOf(QRgb rgb) { return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb)); }
QRgb RgbOf(TColor colour) { return qRgb(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

TPalette GreyPalette()
{
    TPalette palette{};
    for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = RGB(i, i, i);
    return palette;
}

// The format whose size the check before reading uses: the smallest of ours
// Qt's image format can end up in (alpha may turn out unused), or 32 bits
// when the reader does not say, as GIF and WebP readers give 32-bit images.
TPixelFormat SmallestFormatFor(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: return pf1bit;
    case QImage::Format_Invalid: return pf32bit;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_Alpha8: return pf8bit;
    default: return pf24bit;
    }
}

// The form the reader says it will give, or Format_Invalid when the value
// is none: Qt's JPEG reader leaves it unset when the header is damaged.
QImage::Format ReportedFormat(const QImageReader &reader)
{
    const int format = static_cast<int>(reader.imageFormat());
    return format > QImage::Format_Invalid && format < QImage::NImageFormats ? static_cast<QImage::Format>(format) : QImage::Format_Invalid;
}

// Qt's own allocation limit, in MiB: at least ours, and more when Qt's count
// of a picture we accept is larger. Qt counts every pixel at 32 bits or
// more, whatever its format: a grey or 1-bit picture of 600 megapixels
// would otherwise be refused as damaged.
int QtAllocationLimit(QSize size, QImage::Format format)
{
    double limit = static_cast<double>(TBitmap::MaxPixelBytes) / MiB;
    if (size.isValid()) {
        const int bits = format == QImage::Format_Invalid ? 32 : std::max(32, int(QImage::toPixelFormat(format).bitsPerPixel()));
        const double rowBytes = std::ceil(static_cast<double>(size.width()) * bits / 32.0) * 4.0;
        limit = std::max(limit, std::ceil(rowBytes * size.height() / MiB) + 1.0);
    }
    return static_cast<int>(std::min(limit, static_cast<double>(INT_MAX)));
}

// Whether an image of this size and format cannot be allocated now: the
// likely cause when a Qt reader or writer fails on a large picture.
bool MemoryRunsShort(QSize size, QImage::Format format)
{
    return QImage(size, format == QImage::Format_Invalid ? QImage::Format_ARGB32 : format).isNull();
}

// Qt's allocation limit is global: raised for one picture only.
class AllocationLimit {
public:
    explicit AllocationLimit(int mib) : previous_(QImageReader::allocationLimit()) { QImageReader::setAllocationLimit(mib); }
    ~AllocationLimit() { QImageReader::setAllocationLimit(previous_); }
    AllocationLimit(const AllocationLimit &) = delete;
    AllocationLimit &operator=(const AllocationLimit &) = delete;

private:
    int previous_;
};

// Width and height from a PBM/PGM/PPM header: Qt's reader reports none for
// pictures wider or taller than it handles.
QSize PnmHeaderSize(std::span<const std::uint8_t> bytes)
{
    const std::size_t n = bytes.size();
    if (n < 3 || bytes[0] != 'P' || bytes[1] < '1' || bytes[1] > '6') return {};
    std::size_t i = 2;
    std::array<long long, 2> values{};
    for (long long &value : values) {
        while (i < n) {
            if (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r' || bytes[i] == '\v' || bytes[i] == '\f')
                ++i;
            else if (bytes[i] == '#')
                while (i < n && bytes[i] != '\n' && bytes[i] != '\r') ++i;
            else
                break;
        }
        if (i >= n || bytes[i] < '0' || bytes[i] > '9') return {};
        for (; i < n && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
            value = value * 10 + (bytes[i] - '0');
            if (value > INT_MAX) return {};
        }
    }
    return {static_cast<int>(values[0]), static_cast<int>(values[1])};
}

TPixelFormat PnmFormat(std::span<const std::uint8_t> bytes)
{
    switch (bytes[1]) {
    case '1':
    case '4': return pf1bit;
    case '2':
    case '5': return pf8bit;
    default: return pf24bit;
    }
}

// True when a JPEG stream ends before its end-of-image marker. Qt's reader
// pads such a stream with grey and reports success, so it is checked here:
// segments are skipped by their lengths, entropy-coded data up to the next
// marker that is neither a stuffed 0xFF nor a restart marker.
bool JpegIsIncomplete(std::span<const std::uint8_t> bytes)
{
    const std::size_t n = bytes.size();
    const std::uint8_t *data = bytes.data();
    std::size_t i = 2;
    for (;;) {
        // Bytes before a marker are tolerated, as libjpeg does.
        const void *ff = i < n ? std::memchr(data + i, 0xFF, n - i) : nullptr;
        if (!ff) return true;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t *>(ff) - data);
        while (i < n && data[i] == 0xFF) ++i;
        if (i >= n) return true;
        const std::uint8_t marker = data[i++];
        if (marker == 0xD9) return false;
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (n - i < 2) return true;
        const std::size_t length = (std::size_t(data[i]) << 8) | data[i + 1];
        if (length < 2 || length > n - i) return true;
        i += length;
        if (marker != 0xDA) continue;
        // Entropy-coded data after a start of scan.
        for (;;) {
            ff = i < n ? std::memchr(data + i, 0xFF, n - i) : nullptr;
            if (!ff) return true;
            i = static_cast<std::size_t>(static_cast<const std::uint8_t *>(ff) - data);
            if (i + 1 >= n) return true;
            const std::uint8_t next = data[i + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                i += 2;
                continue;
            }
            if (next == 0xFF) {
                ++i;
                continue;
            }
            break;
        }
    }
}

bool SkipSubBlocks(std::span<const std::uint8_t> bytes, std::size_t &i)
{
    while (i < bytes.size()) {
        const std::size_t length = bytes[i++];
        if (length == 0) return true;
        if (length > bytes.size() - i) return false;
        i += length;
    }
    return false;
}

QList<QRgb> GifColourTable(std::span<const std::uint8_t> bytes, std::size_t &i, std::uint8_t packed, bool &complete)
{
    if (!(packed & 0x80)) return {};
    const std::size_t entries = std::size_t(2) << (packed & 7);
    if (3 * entries > bytes.size() - i) {
        complete = false;
        return {};
    }
    QList<QRgb> colours(static_cast<qsizetype>(entries));
    for (std::size_t e = 0; e < entries; ++e, i += 3) colours[static_cast<qsizetype>(e)] = qRgb(bytes[i], bytes[i + 1], bytes[i + 2]);
    return colours;
}

struct GifFirstImage {
    bool complete = false;
    QList<QRgb> colours;
};

// A GIF's picture is its logical screen, whatever the size of its frames.
QSize GifScreenSize(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 10) return {};
    return {bytes[6] | (bytes[7] << 8), bytes[8] | (bytes[9] << 8)};
}

// The colour table of a GIF's first image, and whether that image's data is
// all there: Qt's reader gives GIFs in 32-bit form and fills a cut-off
// image silently.
GifFirstImage ReadGifStructure(std::span<const std::uint8_t> bytes)
{
    GifFirstImage gif;
    if (bytes.size() < 13) return gif;
    std::size_t i = 13;
    bool complete = true;
    const QList<QRgb> global = GifColourTable(bytes, i, bytes[10], complete);
    while (complete && i < bytes.size()) {
        const std::uint8_t block = bytes[i++];
        if (block == 0x21) {
            // An extension: its label, then sub-blocks.
            ++i;
            complete = SkipSubBlocks(bytes, i);
        } else if (block == 0x2C) {
            if (bytes.size() - i < 10) return gif;
            const std::uint8_t packed = bytes[i + 8];
            i += 9;
            const QList<QRgb> local = GifColourTable(bytes, i, packed, complete);
            if (!complete || i >= bytes.size()) return gif;
            // The LZW code size, then the image data.
            ++i;
            gif.complete = SkipSubBlocks(bytes, i);
            gif.colours = local.isEmpty() ? global : local;
            return gif;
        } else {
            return gif;
        }
    }
    return gif;
}

// A 32-bit image indexed again by a file's own colour table, when every
// pixel is one of its colours; else the image as it was.
QImage IndexedByTable(const QImage &image, const QList<QRgb> &colours)
{
    if (colours.isEmpty() || (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)) return image;
    const QImage indexed = image.convertToFormat(QImage::Format_Indexed8, colours, Qt::ThresholdDither | Qt::AvoidDither);
    if (indexed.isNull()) return image;
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *source = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        const uchar *line = indexed.constScanLine(y);
        for (int x = 0; x < width; ++x)
            if (line[x] >= colours.size() || (colours[line[x]] | 0xFF000000) != source[x]) return image;
    }
    return indexed;
}

// Calls row(y, line) for every row of the image in `format`, where `line`
// holds width pixels of that format and `row` returns false to stop. An
// image in another format is converted a band at a time, never whole.
template <class Row>
void ForEachRowAs(const QImage &image, QImage::Format format, Row row)
{
    const int height = image.height();
    if (image.format() == format) {
        for (int y = 0; y < height; ++y)
            if (!row(y, image.constScanLine(y))) return;
        return;
    }
    const qsizetype stride = image.bytesPerLine();
    const int bandRows = static_cast<int>(std::clamp<qsizetype>((qsizetype(16) << 20) / std::max<qsizetype>(stride, 1), 1, height));
    const QList<QRgb> colours = image.colorTable();
    for (int top = 0; top < height; top += bandRows) {
        const int rows = std::min(bandRows, height - top);
        QImage band(image.constScanLine(top), image.width(), rows, stride, image.format());
        if (!colours.isEmpty()) band.setColorTable(colours);
        const QImage converted = band.convertToFormat(format);
        if (converted.isNull()) throw Exception(NoMemoryToConvert());
        for (int y = 0; y < rows; ++y)
            if (!row(top + y, converted.constScanLine(y))) return;
    }
}

bool AnyPixelTranslucent(const QImage &image)
{
    if (!image.hasAlphaChannel()) return false;
    const int width = image.width();
    bool translucent = false;
    ForEachRowAs(image, QImage::Format_ARGB32, [&](int, const uchar *line) {
        for (int x = 0; x < width; ++x)
            if (line[4 * x + 3] != 255) {
                translucent = true;
                return false;
            }
        return true;
    });
    return translucent;
}

bool AllGrey(const QList<QRgb> &colours)
{
    return std::all_of(colours.begin(), colours.end(), [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

void FillMono(const QImage &image, TBitmap &bitmap)
{
    static constexpr std::array<std::uint8_t, 256> Reversed = [] {
        std::array<std::uint8_t, 256> table{};
        for (int v = 0; v < 256; ++v) {
            int r = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (v & (1 << bit)) r |= 0x80 >> bit;
            table[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(r);
        }
        return table;
    }();
    const int width = bitmap.GetWidth();
    const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
    // Bits past the last pixel are cleared so that equal pictures have equal rows.
    const std::uint8_t lastMask = static_cast<std::uint8_t>(0xFF00 >> (width % 8 ? width % 8 : 8));
    const bool lsbFirst = image.format() == QImage::Format_MonoLSB;
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uchar *source = image.constScanLine(y);
        std::uint8_t *row = bitmap.Row(y);
        if (lsbFirst)
            for (std::size_t i = 0; i < bytes; ++i) row[i] = Reversed[source[i]];
        else
            std::memcpy(row, source, bytes);
        row[bytes - 1] &= lastMask;
    }
}

void FillIndexed(const QImage &image, TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        std::memcpy(bitmap.Row(y), image.constScanLine(y), static_cast<std::size_t>(width));
}

// Indices through a table of grey levels; indices past the table read black.
void FillGreyIndexed(const QImage &image, const QList<QRgb> &colours, TBitmap &bitmap)
{
    std::array<std::uint8_t, 256> grey{};
    for (qsizetype i = 0; i < std::min<qsizetype>(colours.size(), 256); ++i)
        grey[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(qRed(colours[i]));
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uchar *source = image.constScanLine(y);
        std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < width; ++x) row[x] = grey[source[x]];
    }
}

void FillCopies(const QImage &image, QImage::Format format, TBitmap &bitmap)
{
    const std::size_t bytes = static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) / 8;
    ForEachRowAs(image, format, [&](int y, const uchar *line) {
        std::memcpy(bitmap.Row(y), line, bytes);
        return true;
    });
}

// 32-bit pixels, B, G, R, X in memory, to our B, G, R.
void FillFrom32(const QImage &image, TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uchar *source = image.constScanLine(y);
        std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < width; ++x, source += 4, row += 3) {
            row[0] = source[0];
            row[1] = source[1];
            row[2] = source[2];
        }
    }
}

void SetColourTable(QImage &image, const TBitmap &bitmap, int entries)
{
    QList<QRgb> colours(entries);
    for (int i = 0; i < entries; ++i) colours[i] = RgbOf(bitmap.GetPalette()[static_cast<std::size_t>(i)]);
    image.setColorTable(colours);
}

// A copy in Indexed8, for formats whose indices Qt has no form for, or
// whose colour table a writer would not keep.
QImage Indexed8Copy(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    QImage image(width, bitmap.GetHeight(), QImage::Format_Indexed8);
    if (image.isNull()) throw Exception(NoMemoryToConvert());
    const TPixelFormat format = bitmap.GetPixelFormat();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const std::uint8_t *row = bitmap.Row(y);
        uchar *line = image.scanLine(y);
        if (format == pf1bit)
            for (int x = 0; x < width; ++x) line[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
        else if (format == pf4bit)
            for (int x = 0; x < width; ++x) line[x] = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        else
            std::memcpy(line, row, static_cast<std::size_t>(width));
    }
    SetColourTable(image, bitmap, bitmap.PaletteSize());
    return image;
}

// 5- and 6-bit channels widened as bitmap.h states, so that files keep the
// colours the rest of the program shows.
QImage Widened16(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    QImage image(width, bitmap.GetHeight(), QImage::Format_BGR888);
    if (image.isNull()) throw Exception(NoMemoryToConvert());
    const bool six = bitmap.GetPixelFormat() == pf16bit;
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const std::uint8_t *row = bitmap.Row(y);
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x, row += 2, line += 3) {
            const unsigned v = row[0] | (row[1] << 8);
            line[0] = channel::From5[v & 31];
            if (six) {
                line[1] = channel::From6[(v >> 5) & 63];
                line[2] = channel::From5[(v >> 11) & 31];
            } else {
                line[1] = channel::From5[(v >> 5) & 31];
                line[2] = channel::From5[(v >> 10) & 31];
            }
        }
    }
    return image;
}

bool AllOpaque(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const std::uint8_t *row = bitmap.Row(y);
        for (int x = 0; x < width; ++x)
            if (row[4 * x + 3] != 255) return false;
    }
    return true;
}

bool BlackAndWhite(const TBitmap &bitmap)
{
    const TColor a = bitmap.GetPalette()[0], b = bitmap.GetPalette()[1];
    return (a == clBlack && b == clWhite) || (a == clWhite && b == clBlack);
}

// The image handed to Qt's writer: our rows wherever the writer keeps them
// exactly, else a form it does keep.
QImage ImageToWrite(const TBitmap &bitmap, const QByteArray &format)
{
    const bool tiff = format == "tiff" || format == "tif";
    switch (bitmap.GetPixelFormat()) {
    case pf1bit:
        // Qt's TIFF writer keeps only black and white for 1-bit pictures.
        return tiff && !BlackAndWhite(bitmap) ? Indexed8Copy(bitmap) : QImageFromBitmap(bitmap);
    case pf15bit:
    case pf16bit: return Widened16(bitmap);
    case pf32bit: {
        if (AllOpaque(bitmap))
            return QImage(bitmap.Row(0), bitmap.GetWidth(), bitmap.GetHeight(), bitmap.BytesPerRow(), QImage::Format_RGB32);
        const QImage image = QImageFromBitmap(bitmap);
        if (!tiff) return image;
        // Qt writes 8-bit alpha to TIFF premultiplied, losing colours; 16 bits
        // a channel it writes unassociated, which reads back exactly.
        QImage wide = image.convertToFormat(QImage::Format_RGBA64);
        if (wide.isNull()) throw Exception(NoMemoryToConvert());
        return wide;
    }
    default: return QImageFromBitmap(bitmap);
    }
}

void CheckWritableSize(const TBitmap &bitmap, const QByteArray &format)
{
    int limit = 0;
    QString name;
    if (format == "webp") {
        limit = 16383;
        name = QStringLiteral("WebP");
    } else if (format == "jpg" || format == "jpeg") {
        limit = 65500;
        name = QStringLiteral("JPEG");
    }
    if (limit && (bitmap.GetWidth() > limit || bitmap.GetHeight() > limit))
        throw Exception(QStringLiteral("the picture is %1 x %2 pixels; %3 pictures can be at most %4 pixels wide and high")
                            .arg(bitmap.GetWidth()).arg(bitmap.GetHeight()).arg(name).arg(limit));
}

} // namespace

void CheckPictureFits(int width, int height, TPixelFormat format)
{
    if (width <= 0 || height <= 0) return;
    const std::size_t stride = TBitmap::RowBytes(width, format);
    if (stride <= TBitmap::MaxPixelBytes / static_cast<std::size_t>(height)) return;
    const double mib = static_cast<double>(stride) * height / MiB;
    throw Exception(QStringLiteral("the picture is %1 x %2 pixels, which would take %3 MiB; "
                                   "this program handles pictures of up to %4 MiB")
                        .arg(width).arg(height).arg(std::ceil(mib), 0, 'f', 0).arg(TBitmap::MaxPixelBytes >> 20));
}

void DecodeWithQt(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    if (bytes.empty()) throw Exception(QStringLiteral("the file is empty"));
    // The reader works on the caller's bytes in place: no copy of the file.
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead()) throw Exception(reader.error() == QImageReader::UnsupportedFormatError ? NotAPicture() : Damaged());
    const QByteArray format = reader.format();
    // WBMP has almost no signature: any file starting with two zero bytes reads as one.
    if (format == "wbmp") throw Exception(NotAPicture());

    QSize size = reader.size();
    // Qt's reader gives the first frame's size, which may be smaller than the picture.
    if (format == "gif") size = size.expandedTo(GifScreenSize(bytes));
    const QImage::Format qtFormat = ReportedFormat(reader);
    const bool pnm = format == "pbm" || format == "pgm" || format == "ppm";
    if (!size.isValid() && pnm) {
        const QSize header = PnmHeaderSize(bytes);
        if (header.width() > 32767 || header.height() > 32767) {
            CheckPictureFits(header.width(), header.height(), PnmFormat(bytes));
            throw Exception(QStringLiteral("the picture is %1 x %2 pixels; this program reads PBM, PGM and PPM "
                                           "pictures of at most 32767 pixels wide and high")
                                .arg(header.width()).arg(header.height()));
        }
    }
    if (size.isValid()) CheckPictureFits(size.width(), size.height(), SmallestFormatFor(qtFormat));
    if (format == "jpeg" && JpegIsIncomplete(bytes)) throw Exception(Damaged());
    GifFirstImage gif;
    if (format == "gif" && !(gif = ReadGifStructure(bytes)).complete) throw Exception(Damaged());

    QImage image;
    {
        const AllocationLimit limit(QtAllocationLimit(size, qtFormat));
        if (!reader.read(&image) || image.isNull()) {
            if (reader.error() == QImageReader::UnsupportedFormatError) throw Exception(NotAPicture());
            // Qt's readers report a failed allocation like damaged data.
            if (size.isValid() && MemoryRunsShort(size, qtFormat)) throw Exception(QStringLiteral("there is not enough memory to read the picture"));
            throw Exception(Damaged());
        }
    }
    if (format == "gif") image = IndexedByTable(image, gif.colours);
    BitmapFromQImage(image, into);
}

void BitmapFromQImage(const QImage &image, TBitmap &into)
{
    TBitmap bitmap;
    if (image.isNull()) {
        into.TakeOver(bitmap);
        return;
    }
    const int width = image.width(), height = image.height();
    const QImage::Format format = image.format();
    const QList<QRgb> colours = image.colorTable();
    const bool indexed = format == QImage::Format_Mono || format == QImage::Format_MonoLSB || format == QImage::Format_Indexed8;

    if (AnyPixelTranslucent(image)) {
        bitmap.Allocate(width, height, pf32bit);
        FillCopies(image, QImage::Format_ARGB32, bitmap);
    } else if (indexed) {
        const bool grey = format == QImage::Format_Indexed8 && AllGrey(colours);
        bitmap.Allocate(width, height, format == QImage::Format_Indexed8 ? pf8bit : pf1bit);
        if (grey) {
            bitmap.SetPalette(GreyPalette());
            FillGreyIndexed(image, colours, bitmap);
        } else {
            TPalette palette{};
            for (qsizetype i = 0; i < std::min<qsizetype>(colours.size(), bitmap.PaletteSize()); ++i)
                palette[static_cast<std::size_t>(i)] = ColourOf(colours[i]);
            bitmap.SetPalette(palette);
            if (format == QImage::Format_Indexed8)
                FillIndexed(image, bitmap);
            else
                FillMono(image, bitmap);
        }
    } else if (format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16) {
        bitmap.Allocate(width, height, pf8bit);
        bitmap.SetPalette(GreyPalette());
        FillCopies(image, QImage::Format_Grayscale8, bitmap);
    } else {
        bitmap.Allocate(width, height, pf24bit);
        // The readers' usual forms are copied directly; the rest through Qt's conversion.
        if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32)
            FillFrom32(image, bitmap);
        else
            FillCopies(image, QImage::Format_BGR888, bitmap);
    }
    into.TakeOver(bitmap);
}

QImage QImageFromBitmap(const TBitmap &bitmap)
{
    if (bitmap.Empty()) return {};
    const uchar *rows = bitmap.Row(0);
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight(), stride = bitmap.BytesPerRow();
    switch (bitmap.GetPixelFormat()) {
    case pf1bit: {
        QImage image(rows, width, height, stride, QImage::Format_Mono);
        SetColourTable(image, bitmap, 2);
        return image;
    }
    case pf8bit: {
        QImage image(rows, width, height, stride, QImage::Format_Indexed8);
        SetColourTable(image, bitmap, 256);
        return image;
    }
    case pf4bit: return Indexed8Copy(bitmap);
    case pf15bit: return QImage(rows, width, height, stride, QImage::Format_RGB555);
    case pf16bit: return QImage(rows, width, height, stride, QImage::Format_RGB16);
    case pf24bit: return QImage(rows, width, height, stride, QImage::Format_BGR888);
    case pf32bit: return QImage(rows, width, height, stride, QImage::Format_ARGB32);
    default: return {};
    }
}

QByteArray EncodeWithQt(const TBitmap &bitmap, const char *format)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const QByteArray name = QByteArray(format).toLower();
    CheckWritableSize(bitmap, name);
    const QImage image = ImageToWrite(bitmap, name);

    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, name);
    if (name == "jpg" || name == "jpeg") writer.setQuality(95);
    // Quality 100 makes Qt's WebP writer lossless.
    if (name == "webp") writer.setQuality(100);
    // LZW: lossless, and much smaller than Qt's default of no compression.
    if (name == "tiff" || name == "tif") writer.setCompression(1);
    if (!writer.write(image)) {
        const QString upper = QString::fromLatin1(name.toUpper());
        if (writer.error() == QImageWriter::UnsupportedFormatError)
            throw Exception(QStringLiteral("this program cannot write %1 pictures: the Qt image plugin for them is not installed").arg(upper));
        if (MemoryRunsShort(image.size(), QImage::Format_ARGB32)) throw Exception(QStringLiteral("there is not enough memory to encode the picture"));
        throw Exception(QStringLiteral("the picture could not be encoded as %1").arg(upper));
    }
    return encoded;
}

// Decoding with Qt's image plugins, with the checks they do not make.
#include "platform/files/qt_codec.h"

#include "platform/files/container_checks.h"
#include "platform/files/qt_image_bridge.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr double MiB = 1024.0 * 1024.0;

QString NotAPicture() { return QStringLiteral("the file is not a picture in a format this program reads"); }
QString Damaged() { return QStringLiteral("the picture data is damaged or incomplete"); }

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

} // namespace

void CheckPictureFits(int width, int height, TPixelFormat format)
{
    if (width <= 0 || height <= 0) return;
    if (TBitmap::SizeFits(width, height, format)) return;
    const std::size_t stride = TBitmap::RowBytes(width, format);
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

    const TPictureFileFormatInfo *known = PictureFileFormatNamedByQt(format);
    const auto is = [&](TPictureFileFormat f) { return known && known->format == f; };

    QSize size = reader.size();
    // Qt's reader gives the first frame's size, which may be smaller than the picture.
    if (is(TPictureFileFormat::Gif)) size = size.expandedTo(GifScreenSize(bytes));
    const QImage::Format qtFormat = ReportedFormat(reader);
    const bool pnm = is(TPictureFileFormat::Pbm) || is(TPictureFileFormat::Pgm) || is(TPictureFileFormat::Ppm);
    if (!size.isValid() && pnm) {
        const QSize header = PnmHeaderSize(bytes);
        if (header.width() > known->maxReadSide || header.height() > known->maxReadSide) {
            CheckPictureFits(header.width(), header.height(), PnmFormat(bytes));
            throw Exception(QStringLiteral("the picture is %1 x %2 pixels; this program reads PBM, PGM and PPM "
                                           "pictures of at most %3 pixels wide and high")
                                .arg(header.width()).arg(header.height()).arg(known->maxReadSide));
        }
    }
    if (size.isValid()) CheckPictureFits(size.width(), size.height(), SmallestFormatFor(qtFormat));
    if (is(TPictureFileFormat::Jpeg) && JpegIsIncomplete(bytes)) throw Exception(Damaged());
    GifFirstImage gif;
    if (is(TPictureFileFormat::Gif) && !(gif = ReadGifStructure(bytes)).complete) throw Exception(Damaged());

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
    if (is(TPictureFileFormat::Gif)) image = IndexedByTable(image, gif.colours);
    BitmapFromQImage(image, into);
}


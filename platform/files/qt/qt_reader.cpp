// Decoding with Qt's image plugins, with the checks they do not make.
#include "platform/files/qt/qt_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/decoded_picture.h"
#include "platform/files/opening_limits.h"
#include "platform/files/qt/container_checks.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "platform/files/reader_metadata.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

// The file's bytes as Qt's readers take them. Most of them read as they
// decode (libtiff's strips and tiles, GIF, JPEG of four channels), so each
// read reports how far into the file they are. Every read is answered in
// full, a cancelled one too: a C decoder whose read fails half-way has been
// seen to write outside its buffers (libtiff took the failure for a byte
// count). A cancel is remembered, and honoured once the reader's call
// returns, its picture dropped. The cancel is not thrown from here: it may not pass
// through Qt's and the codecs' C code.
class TReportingBuffer : public QBuffer {
public:
    explicit TReportingBuffer(QByteArray *data) : QBuffer(data) {}
    // Throws ECancelled once the user cancelled during a read.
    void ThrowIfCancelled() const
    {
        if (cancelled_) throw ECancelled();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        try {
            ReportProgress(static_cast<std::uint64_t>(pos()), static_cast<std::uint64_t>(size()));
        } catch (const ECancelled &) {
            cancelled_ = true;
        }
        return QBuffer::readData(data, maxSize);
    }

private:
    bool cancelled_ = false;
};

QString NotAPicture() { return QStringLiteral("the file is not a picture in a format this program reads"); }
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

// Qt's plugins at their peak while reading, counted in decoded images of
// the size and format they give: the rise of peak resident memory (VmHWM)
// measured on files of 2000, 4000 and 8000 pixels a side with Qt 6.4.
// Each holds its image and at most 7 MiB besides; WebP's decoder fills an
// image of its own first. A plugin not measured counts as holding two.
struct TQtReaderPeak {
    const char *plugin;
    int images;
};
constexpr TQtReaderPeak ReaderPeaks[] = {{"gif", 1}, {"mng", 1}, {"tiff", 1}, {"pbm", 1}, {"pgm", 1}, {"ppm", 1},
                                         {"xbm", 1}, {"xpm", 1}, {"ico", 1}, {"webp", 2}};
constexpr int UnmeasuredReaderImages = 2;
constexpr std::uint64_t ReaderWorkingBytes = 8 * MiBBytes;
// The bridge converts a band of up to 16 MiB at a time (qt_image_bridge.cpp).
constexpr std::uint64_t ConversionBandBytes = 32 * MiBBytes;
// Qt's allocation limit, in MiB, for a file that does not give its size
// before decoding: an image within it opens within the allowance.
constexpr int UnknownSizeLimitMiB = 64;

int ReaderImages(const QByteArray &plugin)
{
    for (const TQtReaderPeak &peak : ReaderPeaks)
        if (plugin == peak.plugin) return peak.images;
    return UnmeasuredReaderImages;
}

// Bytes of a QImage of this size with `bits` a pixel, rows padded to 4 bytes.
std::uint64_t ImageBytes(QSize size, int bits)
{
    return (std::uint64_t(size.width()) * std::uint64_t(bits) + 31) / 32 * 4 * std::uint64_t(size.height());
}

int QtBits(QImage::Format format) { return format == QImage::Format_Invalid ? 32 : int(QImage::toPixelFormat(format).bitsPerPixel()); }

// Opening a picture of `size` with Qt: the file's bytes, then the larger
// of Qt's decoding and our conversion, which holds Qt's image and our
// bitmap at once.
std::uint64_t QtOpeningBytes(QSize size, QImage::Format qtFormat, std::uint64_t picture, int readerImages, std::size_t fileBytes)
{
    const std::uint64_t decoded = ImageBytes(size, QtBits(qtFormat));
    const std::uint64_t decoding = std::uint64_t(readerImages) * decoded + ReaderWorkingBytes;
    const std::uint64_t converting = decoded + picture + ConversionBandBytes;
    return fileBytes + std::max(decoding, converting);
}

// Qt's allocation limit, in MiB, for the image the header announces: Qt
// counts every pixel at 32 bits or more, whatever its format, and refuses
// an image larger than the header said.
int QtAllocationLimit(QSize size, QImage::Format format)
{
    if (size.isEmpty()) return UnknownSizeLimitMiB;
    return static_cast<int>(std::min<std::uint64_t>(CeilMiB(ImageBytes(size, std::max(32, QtBits(format)))) + 1, INT_MAX));
}

// Qt's allocation limit is global: set for one picture only.
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
// pixel is one of its colours; else the image as it was. Written here
// rather than by Qt's conversion, which first makes a 32-bit copy.
QImage IndexedByTable(const QImage &image, const QList<QRgb> &colours)
{
    if (colours.isEmpty() || colours.size() > 256 || (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32))
        return image;
    // Opaque colours sorted, each with its first index in the table.
    std::vector<std::pair<QRgb, uchar>> table;
    for (qsizetype i = 0; i < colours.size(); ++i) table.emplace_back(colours[i] | 0xFF000000, static_cast<uchar>(i));
    std::stable_sort(table.begin(), table.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QImage indexed(image.size(), QImage::Format_Indexed8);
    if (indexed.isNull()) return image;
    indexed.setColorTable(colours);
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *source = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uchar *line = indexed.scanLine(y);
        // Runs of one colour are looked up once.
        QRgb last = 0;
        uchar index = 0;
        bool known = false;
        for (int x = 0; x < width; ++x) {
            if (!known || source[x] != last) {
                const auto found = std::lower_bound(table.begin(), table.end(), source[x], [](const auto &entry, QRgb c) { return entry.first < c; });
                if (found == table.end() || found->first != source[x]) return image;
                last = source[x];
                index = found->second;
                known = true;
            }
            line[x] = index;
        }
    }
    return indexed;
}

} // namespace

TRowsMissing DecodeWithQt(std::span<const std::uint8_t> bytes, TBitmap &into)
{
    if (bytes.empty()) throw Exception(QStringLiteral("the file is empty"));
    // The reader works on the caller's bytes in place: no copy of the file.
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    TReportingBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The readers that hand a picture to Qt turn it upright by what its
    // file carries (reader_metadata.h), as every reader does.
    reader.setAutoTransform(false);
    const bool readable = reader.canRead();
    buffer.ThrowIfCancelled();
    if (!readable) throw Exception(reader.error() == QImageReader::UnsupportedFormatError ? NotAPicture() : DamagedData());
    const QByteArray format = reader.format();
    // WBMP has almost no signature: any file starting with two zero bytes reads as one.
    if (format == "wbmp") throw Exception(NotAPicture());

    const TPictureFileFormatInfo *known = PictureFileFormatNamedByQt(format);
    const auto is = [&](TPictureFileFormat f) { return known && known->format == f; };

    QSize size = reader.size();
    const QImage::Format qtFormat = ReportedFormat(reader);
    buffer.ThrowIfCancelled();
    // Qt's reader gives the first frame's size, which may be smaller than the picture.
    if (is(TPictureFileFormat::Gif)) size = size.expandedTo(GifScreenSize(bytes));
    if (!size.isValid() && format == "mng") size = MngFrameSize(bytes);
    // The memory check counts our bitmap at the smallest it can turn out: a
    // GIF's colours fit its 8-bit palette, and alpha may go unused.
    const TPixelFormat smallest = is(TPictureFileFormat::Gif) ? pf8bit : qtFormat == QImage::Format_Invalid ? pf24bit : SmallestFormatFor(qtFormat);
    // Named as the table of formats names it, or as Qt's plugin is.
    TDecodedPicture decoded(into, known ? QString::fromLatin1(known->name) : QString::fromLatin1(format).toUpper());
    const auto checkSize = [&](QSize claimed) {
        if (claimed.isEmpty()) return;
        CheckPictureFits(claimed.width(), claimed.height(), SmallestFormatFor(qtFormat));
        const std::uint64_t picture = TBitmap::RowBytes(claimed.width(), smallest) * std::uint64_t(claimed.height());
        CheckOpeningMemory(claimed.width(), claimed.height(), decoded.FormatName(),
                           QtOpeningBytes(claimed, qtFormat, picture, ReaderImages(format), bytes.size()), picture);
    };
    checkSize(size);
    if (is(TPictureFileFormat::Jpeg)) {
        const TJpegOutline outline = OutlineOfJpeg(bytes);
        if (!outline.complete) throw Exception(DamagedData());
        if (outline.scans > MaxJpegScans) throw Exception(TooManyJpegScans());
    }
    GifFirstImage gif;
    if (is(TPictureFileFormat::Gif) && !(gif = ReadGifStructure(bytes)).complete) throw Exception(DamagedData());

    QImage image;
    {
        const AllocationLimit limit(QtAllocationLimit(size, qtFormat));
        const bool read = reader.read(&image);
        // The picture of a reading cancelled meanwhile is not kept.
        buffer.ThrowIfCancelled();
        if (!read || image.isNull()) {
            if (reader.error() == QImageReader::UnsupportedFormatError) throw Exception(NotAPicture());
            // A reader that gives the size only once it decodes is held to
            // Qt's limit, whose refusal it reports as damaged data.
            if (size.isEmpty()) checkSize(reader.size());
            // Qt's readers report a failed allocation like damaged data.
            if (size.isValid() && MemoryRunsShort(size, qtFormat)) throw Exception(NotEnoughMemoryTo(TMemoryUse::ReadingThePicture));
            throw Exception(DamagedData());
        }
    }
    if (is(TPictureFileFormat::Gif)) image = IndexedByTable(image, gif.colours);
    // Qt's readers check the size and the memory before they decode, above,
    // and the picture is allocated in the form the image turns out to need.
    BitmapFromQImage(image, decoded.Picture());
    return decoded.HandOver(WholePicture(decoded.Picture()));
}


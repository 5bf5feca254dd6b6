// Writing JPEG pictures through libjpeg-turbo, from the bitmap's rows, in
// parts of whole rows of blocks encoded at once on every core and joined
// into one file by restart markers, so that a long save reports its
// progress and can be cancelled between parts.
#include "platform/files/jpeg/jpeg_codec.h"

#include "platform/base/parallel_pieces.h"
#include "platform/base/work_progress.h"
#include "platform/files/jpeg/jpeg_metadata.h"
#include "platform/files/jpeg/libjpeg_errors.h"
#include "platform/files/jpeg_segments.h"
#include "platform/metadata/file_metadata.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Only the functions below call into libjpeg (libjpeg_errors.h).
struct TCompressor {
    jpeg_compress_struct info{};
    TLibjpegErrors errors;
    // The encoder's output: the file's bytes, or a larger block libjpeg
    // allocated when they did not suffice.
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    unsigned char *own = nullptr;

    TCompressor() { errors.Install(reinterpret_cast<j_common_ptr>(&info)); }
    ~TCompressor()
    {
        jpeg_destroy_compress(&info);
        if (buffer != own) std::free(buffer);
    }
    TCompressor(const TCompressor &) = delete;
    TCompressor &operator=(const TCompressor &) = delete;
};

// As TurboJPEG sets up its encoder: accurate DCT, the quality's tables, and
// the file's colours, `stored`: 4:2:0 chroma (JCS_YCbCr) or grey
// (JCS_GRAYSCALE); and the JFIF header's density.
bool StartCompressing(TCompressor &c, int width, int height, J_COLOR_SPACE input, int components, J_COLOR_SPACE stored, int quality,
                      TJfifDensity density)
{
    if (setjmp(c.errors.failed)) return false;
    jpeg_create_compress(&c.info);
    jpeg_mem_dest(&c.info, &c.buffer, &c.size);
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    c.info.in_color_space = input;
    c.info.input_components = components;
    jpeg_set_defaults(&c.info);
    jpeg_set_colorspace(&c.info, stored);
    jpeg_set_quality(&c.info, quality, TRUE);
    c.info.dct_method = JDCT_ISLOW;
    c.info.density_unit = density.unit;
    c.info.X_density = density.horizontal;
    c.info.Y_density = density.vertical;
    if (stored == JCS_YCbCr) {
        c.info.comp_info[0].h_samp_factor = c.info.comp_info[0].v_samp_factor = 2;
        for (int i = 1; i < 3; ++i) c.info.comp_info[i].h_samp_factor = c.info.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&c.info, TRUE);
    return true;
}

bool WriteRows(TCompressor &c, std::uint8_t **rows, int count)
{
    if (setjmp(c.errors.failed)) return false;
    return jpeg_write_scanlines(&c.info, rows, static_cast<JDIMENSION>(count)) == static_cast<JDIMENSION>(count);
}

bool FinishCompressing(TCompressor &c)
{
    if (setjmp(c.errors.failed)) return false;
    jpeg_finish_compress(&c.info);
    return true;
}

bool IsGrey(TColor c) { return GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c); }

// Palette pictures whose entries are all grey are written as grey levels.
bool GreyPalette(const TBitmap &bitmap)
{
    const int entries = bitmap.PaletteSize();
    if (entries == 0) return false;
    for (int i = 0; i < entries; ++i)
        if (!IsGrey(bitmap.GetPalette()[static_cast<std::size_t>(i)])) return false;
    return true;
}

bool IdentityGrey(const TBitmap &bitmap)
{
    return bitmap.GetPixelFormat() == pf8bit && bitmap.GetPalette() == GreyLevels;
}

// The rows as the encoder takes them, for the forms it cannot read in
// place: grey levels (JCS_GRAYSCALE), or B, G, R (JCS_EXT_BGR).
std::vector<std::uint8_t> Converted(const TBitmap &bitmap, J_COLOR_SPACE input, int &pitch)
{
    const bool grey = input == JCS_GRAYSCALE;
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const std::size_t channels = grey ? 1 : 3;
    pitch = static_cast<int>(channels * std::size_t(width));
    std::vector<std::uint8_t> rows(std::size_t(pitch) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        std::uint8_t *out = rows.data() + std::size_t(pitch) * std::size_t(y);
        for (int x = 0; x < width; ++x) {
            const TColor c = bitmap.GetPixel(x, y);
            if (grey) {
                out[x] = GetRValue(c);
            } else {
                out[3 * x] = GetBValue(c);
                out[3 * x + 1] = GetGValue(c);
                out[3 * x + 2] = GetRValue(c);
            }
        }
    }
    return rows;
}

// What the encoder is given: rows of pixels in one of the forms it reads.
struct TSource {
    // Row 0, and the step from a row to the next (negative where the
    // bitmap keeps its rows bottom up).
    const std::uint8_t *rows = nullptr;
    std::ptrdiff_t pitch = 0;
    int width = 0, height = 0;
    J_COLOR_SPACE input = JCS_EXT_BGR;
    int components = 3;
    bool grey = false;
    int quality = 95;
    TJfifDensity density;
};

// A whole JPEG file of the source's rows [first, first + count).
QByteArray EncodeRows(const TSource &source, int first, int count)
{
    TCompressor c;
    const auto failed = [&] {
        return Exception(QStringLiteral("the picture could not be encoded as JPEG: %1").arg(SystemWording(QString::fromLocal8Bit(c.errors.message))));
    };
    // Encoded straight into the bytes, room for the worst case made
    // beforehand: only the pages written are ever touched.
    QByteArray file(static_cast<qsizetype>(tjBufSize(source.width, count, source.grey ? TJSAMP_GRAY : TJSAMP_420)), Qt::Uninitialized);
    c.buffer = c.own = reinterpret_cast<unsigned char *>(file.data());
    c.size = static_cast<unsigned long>(file.size());
    if (!StartCompressing(c, source.width, count, source.input, source.components, source.grey ? JCS_GRAYSCALE : JCS_YCbCr,
                          source.quality, source.density))
        throw failed();
    std::vector<std::uint8_t *> rows(static_cast<std::size_t>(count));
    // libjpeg only reads the rows it is handed.
    for (int i = 0; i < count; ++i) rows[static_cast<std::size_t>(i)] = const_cast<std::uint8_t *>(source.rows + source.pitch * std::ptrdiff_t(first + i));
    if (!WriteRows(c, rows.data(), count) || !FinishCompressing(c)) throw failed();
    if (c.buffer != c.own) return QByteArray(reinterpret_cast<const char *>(c.buffer), static_cast<qsizetype>(c.size));
    file.truncate(static_cast<qsizetype>(c.size));
    return file;
}

// Where a file libjpeg wrote has the end of its JFIF header (where the
// metadata's segments go), its frame header's height and where its scan's
// coded data start (after the scan header) and end (before EOI).
struct TLayout {
    qsizetype jfifEnd = 2, heightAt = -1, scanHeaderAt = -1, dataAt = -1, dataEnd = -1;
};

TLayout LayoutOf(const QByteArray &file)
{
    const auto *b = reinterpret_cast<const std::uint8_t *>(file.constData());
    const qsizetype size = file.size();
    TLayout layout;
    TJpegSegments segments({b, static_cast<std::size_t>(size)}, TStrayBytes::End);
    while (const auto segment = segments.Next()) {
        const auto at = static_cast<qsizetype>(segment->at), end = static_cast<qsizetype>(segment->end);
        // The frame header: precision, then the height.
        if (segment->marker == TJpegMarker::Sof0 && segment->payload.size() >= 3) layout.heightAt = at + 5;
        if (segment->marker == TJpegMarker::App0) layout.jfifEnd = end;
        if (segment->marker == TJpegMarker::Sos) {
            layout.scanHeaderAt = at;
            layout.dataAt = end;
            break;
        }
    }
    if (layout.heightAt < 0 || layout.dataAt < 0 || layout.dataAt + 2 > size || b[size - 2] != 0xFF || b[size - 1] != std::uint8_t(TJpegMarker::Eoi))
        throw Exception(QStringLiteral("the picture could not be encoded as JPEG: the encoder's output is not as expected"));
    layout.dataEnd = size - 2;
    return layout;
}

// One file from the parts' files: the first one's headers with the
// metadata's segments after its JFIF header, the whole picture's height
// and a restart interval of one part's blocks, then each part's coded
// data, a restart marker between two. A decoder starts each part afresh
// at its marker, as each was encoded: the pixels are those of one file of
// all the rows.
QByteArray JoinParts(const std::vector<QByteArray> &parts, const QByteArray &segments, int height, int blocksPerPart)
{
    std::vector<TLayout> layouts;
    qsizetype total = 16;
    for (const QByteArray &part : parts) {
        layouts.push_back(LayoutOf(part));
        total += layouts.back().dataEnd - layouts.back().dataAt + 2;
    }
    const TLayout &first = layouts[0];
    total += first.dataAt + segments.size();
    QByteArray file;
    file.reserve(total);
    file.append(parts[0].constData(), first.jfifEnd);
    file.append(segments);
    file.append(parts[0].constData() + first.jfifEnd, first.scanHeaderAt - first.jfifEnd);
    const qsizetype heightAt = first.heightAt + segments.size();
    file[heightAt] = static_cast<char>(height >> 8);
    file[heightAt + 1] = static_cast<char>(height & 0xFF);
    const char restartInterval[] = {'\xFF', static_cast<char>(TJpegMarker::Dri), 0, 4, static_cast<char>(blocksPerPart >> 8),
                                    static_cast<char>(blocksPerPart & 0xFF)};
    file.append(restartInterval, sizeof restartInterval);
    file.append(parts[0].constData() + first.scanHeaderAt, first.dataAt - first.scanHeaderAt);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) file.append('\xFF').append(static_cast<char>(RestartMarker(i - 1)));
        file.append(parts[i].constData() + layouts[i].dataAt, layouts[i].dataEnd - layouts[i].dataAt);
    }
    file.append('\xFF').append(static_cast<char>(TJpegMarker::Eoi));
    return file;
}

} // namespace

QByteArray EncodeJpeg(const TBitmap &bitmap, const TPictureFileFormatInfo &info)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    if (info.maxSide && (width > info.maxSide || height > info.maxSide))
        throw Exception(QStringLiteral("the picture is %1 x %2 pixels; %3 pictures can be at most %4 pixels wide and high")
                            .arg(width).arg(height).arg(QLatin1String(info.name)).arg(info.maxSide));
    const TPixelFormat format = bitmap.GetPixelFormat();
    TSource source;
    source.width = width, source.height = height, source.quality = info.quality;
    source.grey = GreyPalette(bitmap);
    const TPictureMetadata saved = MetadataToSave(bitmap);
    source.density = JfifDensity(saved.resolution);

    // pf24bit, pf32bit and grey pf8bit are read in place; the rest converted.
    source.rows = bitmap.Row(0);
    source.pitch = bitmap.RowStep();
    std::vector<std::uint8_t> converted;
    if (format == pf32bit) {
        source.input = JCS_EXT_BGRX;
    } else if (source.grey && IdentityGrey(bitmap)) {
        source.input = JCS_GRAYSCALE;
    } else if (format != pf24bit) {
        int convertedPitch = 0;
        source.input = source.grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
        converted = Converted(bitmap, source.input, convertedPitch);
        source.rows = converted.data();
        source.pitch = convertedPitch;
    }
    source.components = source.input == JCS_GRAYSCALE ? 1 : source.input == JCS_EXT_BGRX ? 4 : 3;

    // Parts of whole rows of blocks (16 pixels high with 4:2:0 chroma, 8
    // in grey), about a megabyte of rows each, and of at most 65535 blocks,
    // the most a restart interval can count.
    const int blockSide = source.grey ? 8 : 16;
    const int blockColumns = (width + blockSide - 1) / blockSide;
    const int blockRows = (height + blockSide - 1) / blockSide;
    const int bandBlockRows = static_cast<int>((std::size_t(1) << 20) / std::max<std::size_t>(1, static_cast<std::size_t>(std::abs(source.pitch))) / std::size_t(blockSide));
    const int partBlockRows = std::clamp(bandBlockRows, 1, std::max(1, 65535 / blockColumns));
    const int parts = (blockRows + partBlockRows - 1) / partBlockRows;
    ReportProgress(0, static_cast<std::uint64_t>(parts));
    std::vector<QByteArray> files(static_cast<std::size_t>(parts));
    const int partRows = partBlockRows * blockSide;
    ForEachPiece(files.size(), std::min(WorkerThreads(), static_cast<unsigned>(parts)), [&](std::size_t i, unsigned) {
        const int first = static_cast<int>(i) * partRows;
        files[i] = EncodeRows(source, first, std::min(partRows, height - first));
    });
    const QByteArray segments = JpegMetadataSegments(saved, source.grey ? TProfileSpace::Grey : TProfileSpace::Rgb);
    if (parts == 1 && segments.isEmpty()) return files[0];
    if (parts == 1) {
        const TLayout layout = LayoutOf(files[0]);
        return files[0].insert(layout.jfifEnd, segments);
    }
    return JoinParts(files, segments, height, partBlockRows * blockColumns);
}

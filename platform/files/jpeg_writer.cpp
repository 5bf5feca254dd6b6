// Writing JPEG pictures through libjpeg-turbo, from the bitmap's rows, a
// band at a time, so that a long save reports its progress and can be
// cancelled between bands.
#include "platform/files/jpeg_codec.h"

#include "platform/files/file_bytes.h"
#include "platform/files/libjpeg_errors.h"
#include "platform/pictures/work_progress.h"

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
// 4:2:0 chroma or grey.
bool StartCompressing(TCompressor &c, int width, int height, J_COLOR_SPACE input, int components, bool grey, int quality)
{
    if (setjmp(c.errors.failed)) return false;
    jpeg_create_compress(&c.info);
    jpeg_mem_dest(&c.info, &c.buffer, &c.size);
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    c.info.in_color_space = input;
    c.info.input_components = components;
    jpeg_set_defaults(&c.info);
    jpeg_set_colorspace(&c.info, grey ? JCS_GRAYSCALE : JCS_YCbCr);
    jpeg_set_quality(&c.info, quality, TRUE);
    c.info.dct_method = JDCT_ISLOW;
    if (!grey) {
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
// place: grey levels, or B, G, R.
std::vector<std::uint8_t> Converted(const TBitmap &bitmap, bool grey, int &pitch)
{
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

} // namespace

QByteArray EncodeJpeg(const TBitmap &bitmap, const TPictureFileFormatInfo &info)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    if (info.maxSide && (width > info.maxSide || height > info.maxSide))
        throw Exception(QStringLiteral("the picture is %1 x %2 pixels; %3 pictures can be at most %4 pixels wide and high")
                            .arg(width).arg(height).arg(QLatin1String(info.name)).arg(info.maxSide));
    const TPixelFormat format = bitmap.GetPixelFormat();
    const bool grey = GreyPalette(bitmap);

    // pf24bit, pf32bit and grey pf8bit are read in place; the rest converted.
    const std::uint8_t *rows = bitmap.Row(0);
    std::size_t pitch = bitmap.BytesPerRow();
    J_COLOR_SPACE input = JCS_EXT_BGR;
    std::vector<std::uint8_t> converted;
    if (format == pf32bit) {
        input = JCS_EXT_BGRX;
    } else if (grey && IdentityGrey(bitmap)) {
        input = JCS_GRAYSCALE;
    } else if (format != pf24bit) {
        int convertedPitch = 0;
        converted = Converted(bitmap, grey, convertedPitch);
        rows = converted.data();
        pitch = static_cast<std::size_t>(convertedPitch);
        input = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    }
    const int components = input == JCS_GRAYSCALE ? 1 : input == JCS_EXT_BGRX ? 4 : 3;

    TCompressor c;
    const auto failed = [&] {
        return Exception(QStringLiteral("the picture could not be encoded as JPEG: %1").arg(SystemWording(QString::fromLocal8Bit(c.errors.message))));
    };
    // Encoded straight into the file's bytes, room for the worst case made
    // beforehand: only the pages written are ever touched.
    QByteArray file(static_cast<qsizetype>(tjBufSize(width, height, grey ? TJSAMP_GRAY : TJSAMP_420)), Qt::Uninitialized);
    c.buffer = c.own = reinterpret_cast<unsigned char *>(file.data());
    c.size = static_cast<unsigned long>(file.size());
    if (!StartCompressing(c, width, height, input, components, grey, info.quality)) throw failed();
    // Bands of about a megabyte between reports.
    const int band = std::max(1, static_cast<int>((std::size_t(1) << 20) / std::max<std::size_t>(1, pitch)));
    std::vector<std::uint8_t *> bandRows(static_cast<std::size_t>(std::min(band, height)));
    ReportProgress(0, static_cast<std::uint64_t>(height));
    for (int y = 0; y < height;) {
        const int count = std::min(band, height - y);
        // libjpeg only reads the rows it is handed.
        for (int i = 0; i < count; ++i) bandRows[static_cast<std::size_t>(i)] = const_cast<std::uint8_t *>(rows + pitch * std::size_t(y + i));
        if (!WriteRows(c, bandRows.data(), count)) throw failed();
        y += count;
        ReportProgress(static_cast<std::uint64_t>(y), static_cast<std::uint64_t>(height));
    }
    if (!FinishCompressing(c)) throw failed();
    if (c.buffer != c.own) return QByteArray(reinterpret_cast<const char *>(c.buffer), static_cast<qsizetype>(c.size));
    file.truncate(static_cast<qsizetype>(c.size));
    return file;
}

// Writing JPEG pictures through TurboJPEG, from the bitmap's rows.
#include "platform/files/jpeg_codec.h"

#include "platform/pictures/work_progress.h"

#include <turbojpeg.h>

#include <memory>
#include <vector>

namespace {

struct TjFree {
    void operator()(void *handle) const { tjDestroy(handle); }
};

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
    if (bitmap.GetPixelFormat() != pf8bit) return false;
    for (int i = 0; i < 256; ++i)
        if (bitmap.GetPalette()[static_cast<std::size_t>(i)] != RGB(i, i, i)) return false;
    return true;
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
    int pitch = bitmap.BytesPerRow();
    int pixelFormat = TJPF_BGR;
    std::vector<std::uint8_t> converted;
    if (format == pf32bit) {
        pixelFormat = TJPF_BGRX;
    } else if (grey && IdentityGrey(bitmap)) {
        pixelFormat = TJPF_GRAY;
    } else if (format != pf24bit) {
        converted = Converted(bitmap, grey, pitch);
        rows = converted.data();
        pixelFormat = grey ? TJPF_GRAY : TJPF_BGR;
    }

    const std::unique_ptr<void, TjFree> handle(tjInitCompress());
    if (!handle) throw Exception(QStringLiteral("there is not enough memory to encode the picture"));
    const int subsampling = grey ? TJSAMP_GRAY : TJSAMP_420;
    // Encoded straight into the file's bytes, room for the worst case made
    // beforehand: only the pages written are ever touched.
    QByteArray file(static_cast<qsizetype>(tjBufSize(width, height, subsampling)), Qt::Uninitialized);
    auto *buffer = reinterpret_cast<unsigned char *>(file.data());
    unsigned long size = static_cast<unsigned long>(file.size());
    ReportProgress(0, 1);
    if (tjCompress2(handle.get(), rows, width, pitch, height, pixelFormat, &buffer, &size, subsampling, info.quality,
                    TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC) != 0)
        throw Exception(QStringLiteral("the picture could not be encoded as JPEG: %1").arg(QString::fromLocal8Bit(tjGetErrorStr2(handle.get()))));
    ReportProgress(1, 1);
    file.truncate(static_cast<qsizetype>(size));
    return file;
}

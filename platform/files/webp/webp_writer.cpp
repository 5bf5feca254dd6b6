// Writing WebP pictures through libwebp's encoder, with the settings Qt's
// writer uses, and the metadata put in by its mux library.
#include "platform/files/webp/webp_codec.h"

#include "platform/base/work_progress.h"
#include "platform/files/webp/webp_metadata.h"
#include "platform/metadata/exif_xmp.h"
#include "platform/metadata/file_metadata.h"

#include <webp/encode.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct TPictureFree {
    void operator()(WebPPicture *picture) const { WebPPictureFree(picture); }
};
struct TWriterClear {
    void operator()(WebPMemoryWriter *writer) const { WebPMemoryWriterClear(writer); }
};

// The encoder's progress as the save's; a cancel stops it at its next
// report, and is thrown once it has returned.
struct TProgress {
    bool cancelled = false;
    static int Hook(int percent, const WebPPicture *picture)
    {
        auto *self = static_cast<TProgress *>(picture->user_data);
        try {
            ReportProgress(static_cast<std::uint64_t>(percent), 100);
        } catch (const ECancelled &) {
            self->cancelled = true;
        }
        return self->cancelled ? 0 : 1;
    }
};

// The pixels handed to the encoder: 24- and 32-bit rows where they are,
// any other form as R, G, B and a spare byte (TColor) a pixel.
bool Import(WebPPicture &picture, const TBitmap &bitmap, std::vector<std::uint32_t> &converted)
{
    // libwebp steps from row 0 by the stride, a negative one included.
    const int stride = static_cast<int>(bitmap.RowStep());
    switch (bitmap.GetPixelFormat()) {
    case pf24bit: return WebPPictureImportBGR(&picture, bitmap.Row(0), stride);
    case pf32bit:
        return AnyTranslucent(bitmap) ? WebPPictureImportBGRA(&picture, bitmap.Row(0), stride) : WebPPictureImportBGRX(&picture, bitmap.Row(0), stride);
    default: break;
    }
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    converted.resize(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y)
        pixel::ReadRow(bitmap.GetPixelFormat(), bitmap.Row(y), width, bitmap.GetPalette(), converted.data() + std::size_t(width) * std::size_t(y));
    return WebPPictureImportRGBX(&picture, reinterpret_cast<const std::uint8_t *>(converted.data()), 4 * width);
}

} // namespace

QByteArray EncodeWebp(const TBitmap &bitmap, const TPictureFileFormatInfo &format)
{
    if (bitmap.Empty()) throw Exception(QStringLiteral("there is no picture to save"));
    if (format.maxSide && (bitmap.GetWidth() > format.maxSide || bitmap.GetHeight() > format.maxSide))
        throw Exception(QStringLiteral("the picture is %1 x %2 pixels; %3 pictures can be at most %4 pixels wide and high")
                            .arg(bitmap.GetWidth()).arg(bitmap.GetHeight()).arg(QLatin1String(format.name)).arg(format.maxSide));
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) throw Exception(QStringLiteral("the WebP encoder could not be started"));
    // As Qt's writer: quality 100 is lossless at the encoder's default
    // effort; below it, lossy at that quality.
    const int quality = format.quality < 0 ? 75 : std::min(format.quality, 100);
    config.lossless = quality >= 100 ? 1 : 0;
    config.quality = quality >= 100 ? 70 : static_cast<float>(quality);
    config.alpha_quality = static_cast<int>(config.quality);

    picture.width = bitmap.GetWidth();
    picture.height = bitmap.GetHeight();
    picture.use_argb = 1;
    const std::unique_ptr<WebPPicture, TPictureFree> owner(&picture);
    std::vector<std::uint32_t> converted;
    if (!Import(picture, bitmap, converted)) throw Exception(NotEnoughMemoryTo(TMemoryUse::EncodingThePicture));
    converted = {};

    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    const std::unique_ptr<WebPMemoryWriter, TWriterClear> output(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    TProgress progress;
    picture.progress_hook = TProgress::Hook;
    picture.user_data = &progress;
    if (!WebPEncode(&config, &picture)) {
        if (progress.cancelled) throw ECancelled();
        if (picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY || picture.error_code == VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY)
            throw Exception(NotEnoughMemoryTo(TMemoryUse::EncodingThePicture));
        throw Exception(QStringLiteral("the picture could not be encoded as WebP"));
    }
    const QByteArray encoded = QByteArray::fromRawData(reinterpret_cast<const char *>(writer.mem), static_cast<qsizetype>(writer.size));
    TPictureMetadata saved = MetadataToSave(bitmap);
    // WebP states a resolution in the EXIF alone.
    if (saved.exif.isEmpty()) saved.exif = ExifStatingResolution({bitmap.GetWidth(), bitmap.GetHeight(), saved.resolution});
    QByteArray file = WebpWithMetadata(encoded, saved);
    // The encoder's memory is let go below: a file still on it is copied.
    if (file.constData() == encoded.constData()) file = QByteArray(encoded.constData(), encoded.size());
    return file;
}

// Opening the 24-megapixel photograph as HEIC, AVIF and JPEG XL (made by
// heif-enc, avifenc and cjxl) beside the libraries' own decoding into a
// buffer, and a 16-bit TIFF beside Qt's reading at a size Qt opens.
#include "bench_registry.h"
#include "bench_support.h"

#include "platform/files/picture_codecs.h"
#include "support/tools.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <libheif/heif.h>
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <tiffio.h>

#include <memory>
#include <vector>

namespace bench {
namespace {

std::span<const std::uint8_t> BytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

enum class TPhoneFormat { Heic, Avif, Jxl };

// The photograph as the format's own encoder writes it at its usual
// quality, made once before any timing; empty where the encoder is absent.
const QByteArray &EncodedPhoto(TPhoneFormat format)
{
    static QByteArray files[3];
    static bool tried[3] = {};
    const auto index = static_cast<std::size_t>(format);
    if (tried[index]) return files[index];
    tried[index] = true;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setCompression(1);
    const TBitmap &photo = *Photograph();
    writer.write(QImage(photo.Row(0), photo.GetWidth(), photo.GetHeight(), static_cast<qsizetype>(photo.BytesPerRow()), QImage::Format_BGR888));
    const QString in = QStringLiteral("IN"), out = QStringLiteral("OUT");
    switch (format) {
    case TPhoneFormat::Heic:
        files[index] = MadeBy(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("85"), QStringLiteral("-o"), out, in}, png,
                              QStringLiteral("in.png"), QStringLiteral("photo.heic"));
        break;
    case TPhoneFormat::Avif:
        files[index] = MadeBy(QStringLiteral("avifenc"), {QStringLiteral("-s"), QStringLiteral("8"), in, out}, png, QStringLiteral("in.png"),
                              QStringLiteral("photo.avif"));
        break;
    case TPhoneFormat::Jxl:
        files[index] = MadeBy(QStringLiteral("cjxl"), {in, out, QStringLiteral("-d"), QStringLiteral("1")}, png, QStringLiteral("in.png"),
                              QStringLiteral("photo.jxl"));
        break;
    }
    return files[index];
}

void Add(const std::string &op, const std::string &impl, TPhoneFormat format, std::function<void(benchmark::State &, const QByteArray &)> run)
{
    Register("Photo." + op, impl, PhotoWidth, [format, run](benchmark::State &state) {
        if (!Photograph()) return state.SkipWithError("../shared/corpora/photos/coffee.png not found: no photograph to measure");
        const QByteArray &file = EncodedPhoto(format);
        if (file.isEmpty()) return state.SkipWithError("the format's encoder is not installed (scripts/install-dependencies.sh test)");
        state.counters["file_bytes"] = static_cast<double>(file.size());
        run(state, file);
    })->Iterations(1);
}

void Ours(benchmark::State &state, const QByteArray &file)
{
    for (auto _ : state) {
        TBitmap bitmap;
        DecodePicture(BytesOf(file), bitmap);
        benchmark::DoNotOptimize(bitmap.Row(0));
    }
}

// libheif's primary picture decoded whole into interleaved RGB.
void Libheif(benchmark::State &state, const QByteArray &file)
{
    for (auto _ : state) {
        heif_context *context = heif_context_alloc();
        heif_image_handle *handle = nullptr;
        heif_image *image = nullptr;
        const bool decoded = heif_context_read_from_memory_without_copy(context, file.constData(), static_cast<std::size_t>(file.size()), nullptr).code ==
                                 heif_error_Ok &&
                             heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
                             heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code == heif_error_Ok;
        if (decoded) {
            int stride = 0;
            benchmark::DoNotOptimize(heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
        }
        heif_image_release(image);
        heif_image_handle_release(handle);
        heif_context_free(context);
        if (!decoded) return state.SkipWithError("libheif failed");
    }
}

// libjxl run whole on every core into 8-bit RGB.
void Libjxl(benchmark::State &state, const QByteArray &file)
{
    for (auto _ : state) {
        JxlDecoder *decoder = JxlDecoderCreate(nullptr);
        void *runner = JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
        JxlDecoderSetParallelRunner(decoder, JxlThreadParallelRunner, runner);
        JxlDecoderSubscribeEvents(decoder, JXL_DEC_FULL_IMAGE);
        JxlDecoderSetInput(decoder, reinterpret_cast<const std::uint8_t *>(file.constData()), static_cast<std::size_t>(file.size()));
        JxlDecoderCloseInput(decoder);
        const JxlPixelFormat format = {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        std::vector<std::uint8_t> pixels;
        bool done = false, failed = false;
        while (!done && !failed) {
            switch (JxlDecoderProcessInput(decoder)) {
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                std::size_t size = 0;
                JxlDecoderImageOutBufferSize(decoder, &format, &size);
                pixels.resize(size);
                failed = JxlDecoderSetImageOutBuffer(decoder, &format, pixels.data(), size) != JXL_DEC_SUCCESS;
                break;
            }
            case JXL_DEC_FULL_IMAGE:
            case JXL_DEC_SUCCESS: done = true; break;
            default: failed = true; break;
            }
        }
        benchmark::DoNotOptimize(pixels.data());
        JxlThreadParallelRunnerDestroy(runner);
        JxlDecoderDestroy(decoder);
        if (failed) return state.SkipWithError("libjxl failed");
    }
}

// A 4000 x 3000 TIFF of 16-bit RGB samples in strips of 16 rows, written by
// libtiff: a size whose 16-bit reading Qt's reader takes.
constexpr int TiffWidth = 4000, TiffHeight = 3000;

const QByteArray &DeepTiff()
{
    static QByteArray file;
    if (!file.isEmpty()) return file;
    const std::string path = ScratchFile("deep.tif");
    TIFF *tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) return file;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, TiffWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, TiffHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<std::uint16_t> row(3 * std::size_t(TiffWidth));
    std::uint32_t state = 0xD1CE;
    for (int y = 0; y < TiffHeight; ++y) {
        for (std::size_t x = 0; x < row.size(); ++x) {
            state = state * 1664525u + 1013904223u;
            row[x] = static_cast<std::uint16_t>((x * 16 + std::size_t(y) * 20) + (state >> 24));
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tiff);
    QFile written(QString::fromStdString(path));
    if (written.open(QIODevice::ReadOnly)) file = written.readAll();
    written.remove();
    return file;
}

void OpenDeepTiff()
{
    const auto add = [](const std::string &impl, std::function<void(benchmark::State &, const QByteArray &)> run) {
        Register("Tiff16.Open", impl, TiffWidth, [run](benchmark::State &state) {
            const QByteArray &file = DeepTiff();
            if (file.isEmpty()) return state.SkipWithError("libtiff could not write the file");
            run(state, file);
        })->Iterations(1);
    };
    add("ours", Ours);
    add("qt", [](benchmark::State &state, const QByteArray &file) {
        for (auto _ : state) {
            const QImage image = QImage::fromData(file, "TIFF");
            if (image.isNull()) return state.SkipWithError("Qt's reader refused the file");
            benchmark::DoNotOptimize(image.constBits());
        }
    });
}

} // namespace

void RegisterPhoneFormats()
{
    Add("OpenHeic", "ours", TPhoneFormat::Heic, Ours);
    Add("OpenHeic", "libheif", TPhoneFormat::Heic, Libheif);
    Add("OpenAvif", "ours", TPhoneFormat::Avif, Ours);
    Add("OpenAvif", "libheif", TPhoneFormat::Avif, Libheif);
    Add("OpenJxl", "ours", TPhoneFormat::Jxl, Ours);
    Add("OpenJxl", "libjxl", TPhoneFormat::Jxl, Libjxl);
    OpenDeepTiff();
}

} // namespace bench

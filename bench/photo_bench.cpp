// Opening and saving a 24-megapixel photograph as PNG and JPEG, beside Qt,
// libspng and TurboJPEG on the same picture and bytes, with the file sizes;
// and the same carrying a 3 MB colour profile and a camera's EXIF. The files
// opened are written by another program (Qt's writers) and by ours.
#include "bench_registry.h"
#include "bench_support.h"

#include "platform/files/picture_codecs.h"
#include "platform/files/qt/qt_image_bridge.h"
#include "support/profiles.h"

#include <exiv2/exiv2.hpp>

#include <QBuffer>
#include <QImageWriter>

#include <spng.h>
#include <turbojpeg.h>

#include <map>
#include <memory>
#include <vector>

namespace bench {
namespace {

constexpr int Width = PhotoWidth, Height = PhotoHeight;
constexpr int Quality = 95;

// The EXIF a camera writes: make, model, times, exposure, lens and GPS,
// and a thumbnail, in TIFF form.
QByteArray CameraExif()
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Camera Maker";
    exif["Exif.Image.Model"] = "Model 24";
    exif["Exif.Image.Orientation"] = uint16_t(1);
    exif["Exif.Image.XResolution"] = Exiv2::URational(300, 1);
    exif["Exif.Image.YResolution"] = Exiv2::URational(300, 1);
    exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
    exif["Exif.Image.Software"] = "Firmware 1.0";
    exif["Exif.Image.DateTime"] = "2024:05:06 07:08:09";
    exif["Exif.Image.Artist"] = "A Photographer";
    exif["Exif.Image.Copyright"] = "All rights reserved";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.DateTimeDigitized"] = "2024:05:06 07:08:09";
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(50, 1);
    exif["Exif.Photo.PixelXDimension"] = uint32_t(Width);
    exif["Exif.Photo.PixelYDimension"] = uint32_t(Height);
    exif["Exif.Photo.LensModel"] = "50 mm F1.8";
    exif["Exif.Photo.UserComment"] = "charset=Ascii A photograph of coffee";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 2400/100";
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    exif["Exif.GPSInfo.GPSLongitude"] = "2/1 21/1 300/100";
    Exiv2::ExifThumb thumb(exif);
    TBitmap small;
    small.Allocate(160, 120, pf24bit);
    const QByteArray jpeg = EncodePicture(small, TPictureFileFormat::Jpeg);
    thumb.setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()), static_cast<std::size_t>(jpeg.size()));
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), static_cast<qsizetype>(blob.size()));
}

// The photograph carrying a colour profile of 3 MB (sRGB as a table of 80
// points a side) and a camera's EXIF; null when absent.
const TBitmap *CarryingPhotograph()
{
    static std::unique_ptr<TBitmap> made;
    if (made || !Photograph()) return made.get();
    made = std::make_unique<TBitmap>();
    made->Assign(Photograph());
    made->SetMetadata({.colourProfile = TableProfile(80), .exif = CameraExif()});
    return made.get();
}

std::span<const std::uint8_t> BytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

// The same of the photograph carrying a profile and EXIF.
const QByteArray &CarryingFile(TPictureFileFormat format)
{
    static QByteArray png, jpeg;
    QByteArray &file = format == TPictureFileFormat::Png ? png : jpeg;
    if (file.isEmpty()) file = EncodePicture(*CarryingPhotograph(), format);
    return file;
}

QImage QtView() { return QImageFromBitmap(*Photograph()); }

QByteArray QtWrite(const QImage &image, const char *format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

// Who wrote the file a row opens: another program (Qt's writers, that is
// libpng's defaults and libjpeg's at quality 95, as photographs come), or
// our own writers.
enum class TWrittenBy { Others, Us };

// The photograph's files, made once, before any timing.
const QByteArray &File(TPictureFileFormat format, TWrittenBy by = TWrittenBy::Others)
{
    static std::map<std::pair<TPictureFileFormat, TWrittenBy>, QByteArray> files;
    QByteArray &file = files[{format, by}];
    if (file.isEmpty()) {
        const bool png = format == TPictureFileFormat::Png;
        file = by == TWrittenBy::Us ? EncodePicture(*Photograph(), format) : QtWrite(QtView(), png ? "png" : "jpeg", png ? -1 : Quality);
    }
    return file;
}

void FileSize(benchmark::State &state, std::size_t bytes) { state.counters["file_bytes"] = static_cast<double>(bytes); }

// Each benchmark first checks that the photograph is there. Ours is also
// held to one thread, for the scaling note.
void Add(const std::string &op, const std::string &impl, const std::function<void(benchmark::State &)> &run)
{
    const auto checked = [run](benchmark::State &state) {
        if (!Photograph()) return state.SkipWithError("../shared/corpora/photos/coffee.png not found: no photograph to measure");
        run(state);
    };
    Register("Photo." + op, impl, Width, checked)->Iterations(1);
    if (impl == "ours")
        Register("Photo." + op, "ours-1thread", Width, [checked](benchmark::State &state) {
            const TPiecesHeld oneThread(1);
            checked(state);
        })->Iterations(1);
}

// "OpenPng" opens the file another program wrote, "OpenOwnPng" ours.
std::string OpenRow(const char *format, TWrittenBy by) { return std::string(by == TWrittenBy::Us ? "OpenOwn" : "Open") + format; }

void OpenPng(TWrittenBy by)
{
    const std::string op = OpenRow("Png", by);
    Add(op, "ours", [by](benchmark::State &state) {
        const QByteArray &png = File(TPictureFileFormat::Png, by);
        for (auto _ : state) {
            TBitmap bitmap;
            DecodePicture(BytesOf(png), bitmap);
            benchmark::DoNotOptimize(bitmap.Row(0));
        }
    });
    Add(op, "qt", [by](benchmark::State &state) {
        const QByteArray &png = File(TPictureFileFormat::Png, by);
        for (auto _ : state) {
            const QImage image = QImage::fromData(png, "PNG");
            benchmark::DoNotOptimize(image.constBits());
        }
    });
    // libspng to RGB in memory.
    Add(op, "spng", [by](benchmark::State &state) {
        const QByteArray &png = File(TPictureFileFormat::Png, by);
        for (auto _ : state) {
            spng_ctx *ctx = spng_ctx_new(0);
            spng_set_png_buffer(ctx, png.constData(), static_cast<std::size_t>(png.size()));
            std::size_t size = 0;
            spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size);
            std::unique_ptr<std::uint8_t, decltype(&std::free)> out(static_cast<std::uint8_t *>(std::malloc(size)), &std::free);
            const int error = spng_decode_image(ctx, out.get(), size, SPNG_FMT_RGB8, 0);
            spng_ctx_free(ctx);
            if (error) return state.SkipWithError("libspng failed");
            benchmark::DoNotOptimize(out.get());
        }
    });
}

void OpenJpeg(TWrittenBy by)
{
    const std::string op = OpenRow("Jpeg", by);
    Add(op, "ours", [by](benchmark::State &state) {
        const QByteArray &jpeg = File(TPictureFileFormat::Jpeg, by);
        for (auto _ : state) {
            TBitmap bitmap;
            DecodePicture(BytesOf(jpeg), bitmap);
            benchmark::DoNotOptimize(bitmap.Row(0));
        }
    });
    Add(op, "qt", [by](benchmark::State &state) {
        const QByteArray &jpeg = File(TPictureFileFormat::Jpeg, by);
        for (auto _ : state) {
            const QImage image = QImage::fromData(jpeg, "JPEG");
            benchmark::DoNotOptimize(image.constBits());
        }
    });
    // TurboJPEG to B, G, R in memory, with its defaults.
    Add(op, "turbojpeg", [by](benchmark::State &state) {
        const QByteArray &jpeg = File(TPictureFileFormat::Jpeg, by);
        const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
        for (auto _ : state) {
            tjhandle handle = tjInitDecompress();
            std::unique_ptr<std::uint8_t, decltype(&std::free)> out(static_cast<std::uint8_t *>(std::malloc(std::size_t(Width) * Height * 3)), &std::free);
            const int error = tjDecompress2(handle, bytes, static_cast<unsigned long>(jpeg.size()), out.get(), Width, 0, Height, TJPF_BGR, 0);
            tjDestroy(handle);
            if (error) return state.SkipWithError("TurboJPEG failed");
            benchmark::DoNotOptimize(out.get());
        }
    });
}

void SavePng()
{
    Add("SavePng", "ours", [](benchmark::State &state) {
        QByteArray file;
        for (auto _ : state) file = EncodePicture(*Photograph(), TPictureFileFormat::Png);
        FileSize(state, static_cast<std::size_t>(file.size()));
    });
    Add("SavePng", "qt", [](benchmark::State &state) {
        const QImage image = QtView();
        QByteArray file;
        for (auto _ : state) file = QtWrite(image, "png", -1);
        FileSize(state, static_cast<std::size_t>(file.size()));
    });
    // libspng at compression level 1, from R, G, B rows.
    Add("SavePng", "spng", [](benchmark::State &state) {
        std::vector<std::uint8_t> rgb(std::size_t(Width) * Height * 3);
        for (int y = 0; y < Height; ++y) {
            const std::uint8_t *in = Photograph()->Row(y);
            std::uint8_t *out = rgb.data() + std::size_t(y) * Width * 3;
            for (int x = 0; x < Width; ++x) out[3 * x] = in[3 * x + 2], out[3 * x + 1] = in[3 * x + 1], out[3 * x + 2] = in[3 * x];
        }
        std::size_t size = 0;
        for (auto _ : state) {
            spng_ctx *ctx = spng_ctx_new(SPNG_CTX_ENCODER);
            spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
            spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1);
            spng_ihdr ihdr{};
            ihdr.width = Width, ihdr.height = Height, ihdr.bit_depth = 8, ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
            spng_set_ihdr(ctx, &ihdr);
            int error = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
            void *buffer = error ? nullptr : spng_get_png_buffer(ctx, &size, &error);
            spng_ctx_free(ctx);
            if (!buffer) return state.SkipWithError("libspng failed");
            std::free(buffer);
        }
        FileSize(state, size);
    });
}

void SaveJpeg()
{
    Add("SaveJpeg", "ours", [](benchmark::State &state) {
        QByteArray file;
        for (auto _ : state) file = EncodePicture(*Photograph(), TPictureFileFormat::Jpeg);
        FileSize(state, static_cast<std::size_t>(file.size()));
    });
    Add("SaveJpeg", "qt", [](benchmark::State &state) {
        const QImage image = QtView();
        QByteArray file;
        for (auto _ : state) file = QtWrite(image, "jpeg", Quality);
        FileSize(state, static_cast<std::size_t>(file.size()));
    });
    // TurboJPEG at the same quality, chroma halved both ways and the accurate
    // DCT: the settings Qt's writer and ours use.
    Add("SaveJpeg", "turbojpeg", [](benchmark::State &state) {
        unsigned long size = 0;
        for (auto _ : state) {
            tjhandle handle = tjInitCompress();
            unsigned char *buffer = nullptr;
            const int error = tjCompress2(handle, Photograph()->Row(0), Width, Photograph()->BytesPerRow(), Height, TJPF_BGR, &buffer, &size,
                                          TJSAMP_420, Quality, TJFLAG_ACCURATEDCT);
            tjFree(buffer);
            tjDestroy(handle);
            if (error) return state.SkipWithError("TurboJPEG failed");
        }
        FileSize(state, size);
    });
}

// Our opening and saving of the photograph carrying a profile and EXIF,
// to set beside our rows of the bare one.
void Carrying(const std::string &open, const std::string &save, TPictureFileFormat format)
{
    Add(open, "ours_profile_exif", [format](benchmark::State &state) {
        const QByteArray &file = CarryingFile(format);
        for (auto _ : state) {
            TBitmap bitmap;
            DecodePicture(BytesOf(file), bitmap);
            benchmark::DoNotOptimize(bitmap.Row(0));
        }
    });
    Add(save, "ours_profile_exif", [format](benchmark::State &state) {
        QByteArray file;
        for (auto _ : state) file = EncodePicture(*CarryingPhotograph(), format);
        FileSize(state, static_cast<std::size_t>(file.size()));
    });
}

} // namespace

void RegisterPhotograph()
{
    for (TWrittenBy by : {TWrittenBy::Others, TWrittenBy::Us}) {
        OpenPng(by);
        OpenJpeg(by);
    }
    SavePng();
    SaveJpeg();
    // Beside our rows of the bare photograph in our own files.
    Carrying(OpenRow("Png", TWrittenBy::Us), "SavePng", TPictureFileFormat::Png);
    Carrying(OpenRow("Jpeg", TWrittenBy::Us), "SaveJpeg", TPictureFileFormat::Jpeg);
}

} // namespace bench

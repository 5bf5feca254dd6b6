// BMP opening and saving, from memory and through files, beside Qt's BMP
// reader and writer and a plain read of the file.
#include "bench_registry.h"
#include "bench_support.h"

#include "platform/files/bmp/bmp_codec.h"
#include "platform/files/picture_files.h"
#include "platform/base/huge_pages.h"

#include <QBuffer>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {
namespace {

std::span<const std::uint8_t> BytesOf(const QByteArray &bytes)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

// The encoded picture of one format and size, kept while its benchmarks run.
const QByteArray &Encoded(TPixelFormat format, int size)
{
    static std::tuple<TPixelFormat, int, QByteArray> kept;
    if (std::get<0>(kept) != format || std::get<1>(kept) != size || std::get<2>(kept).isEmpty())
        kept = {format, size, EncodeBmp(Picture(Content::RandomBytes, format, size))};
    return std::get<2>(kept);
}

// Decoding includes making the picture: each run starts from nothing.
void RegisterDecode(TPixelFormat format, int size)
{
    const std::string op = std::string("DecodeBmp.") + FormatName(format);
    RegisterOurs(op, size, [=](benchmark::State &state) {
        const QByteArray &file = Encoded(format, size);
        for (auto _ : state) {
            TBitmap bitmap;
            DecodeBmp(BytesOf(file), bitmap);
            benchmark::DoNotOptimize(bitmap.Row(0));
        }
        CountBytes(state, static_cast<std::size_t>(file.size()));
    });
    Register(op, "qt", size, [=](benchmark::State &state) {
        const QByteArray &file = Encoded(format, size);
        if (FirstTime(op + std::to_string(size))) {
            const QImage image = QImage::fromData(file, "BMP");
            if (!SameAsQImage(Picture(Content::RandomBytes, format, size), image))
                return state.SkipWithError("Qt reads other pixels");
        }
        for (auto _ : state) {
            QImage image = QImage::fromData(file, "BMP");
            benchmark::DoNotOptimize(image.constBits());
        }
        CountBytes(state, static_cast<std::size_t>(file.size()));
    });
}

void RegisterEncode(TPixelFormat format, int size)
{
    const std::string op = std::string("EncodeBmp.") + FormatName(format);
    RegisterOurs(op, size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        for (auto _ : state) {
            QByteArray file = EncodeBmp(source);
            benchmark::DoNotOptimize(file.constData());
        }
        CountBytes(state, source.ImageBytes());
    });
    // Qt writes the picture in the form its own reader gives it.
    Register(op, "qt", size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        const QImage image = QImage::fromData(Encoded(format, size), "BMP");
        auto save = [&image] {
            QByteArray file;
            QBuffer buffer(&file);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "BMP");
            return file;
        };
        if (FirstTime(op + std::to_string(size))) {
            TBitmap theirs;
            DecodeBmp(BytesOf(save()), theirs);
            if (!SameAsQImage(theirs, ToQImage(source))) return state.SkipWithError("Qt writes other pixels");
        }
        for (auto _ : state) {
            QByteArray file = save();
            benchmark::DoNotOptimize(file.constData());
        }
        CountBytes(state, source.ImageBytes());
    });
}

// Through a file in memory (/dev/shm): opening, beside Qt and a plain read
// of the file, and the replace-when-done save, beside Qt's through
// QSaveFile, which syncs the file as ours does.
void RegisterFiles(TPixelFormat format, int size)
{
    const std::string read = std::string("ReadPictureFile.") + FormatName(format);
    const std::string write = std::string("WritePictureFile.") + FormatName(format);
    RegisterOurs(read, size, [=](benchmark::State &state) {
        const std::string path = ScratchFile("read.bmp");
        WritePictureFile(QString::fromStdString(path), Picture(Content::RandomBytes, format, size));
        for (auto _ : state) {
            TBitmap bitmap;
            ReadPictureFile(QString::fromStdString(path), bitmap);
            benchmark::DoNotOptimize(bitmap.Row(0));
        }
        std::remove(path.c_str());
        CountBytes(state, Picture(Content::RandomBytes, format, size).ImageBytes());
    });
    Register(read, "qt", size, [=](benchmark::State &state) {
        const std::string path = ScratchFile("read.bmp");
        WritePictureFile(QString::fromStdString(path), Picture(Content::RandomBytes, format, size));
        for (auto _ : state) {
            QImage image(QString::fromStdString(path), "BMP");
            benchmark::DoNotOptimize(image.constBits());
        }
        std::remove(path.c_str());
        CountBytes(state, Picture(Content::RandomBytes, format, size).ImageBytes());
    });
    // The limit: the whole file read into one buffer of its own, which asks
    // for huge pages as the bitmap's memory does.
    Register(read, "read", size, [=](benchmark::State &state) {
        const std::string path = ScratchFile("read.bmp");
        WritePictureFile(QString::fromStdString(path), Picture(Content::RandomBytes, format, size));
        for (auto _ : state) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st;
            ::fstat(fd, &st);
            const auto bytes = static_cast<std::size_t>(st.st_size);
            std::unique_ptr<std::uint8_t, decltype(&std::free)> buffer(static_cast<std::uint8_t *>(std::malloc(bytes)), &std::free);
            PreferHugePages(buffer.get(), bytes);
            for (std::size_t done = 0; done < bytes;) {
                const ssize_t got = ::read(fd, buffer.get() + done, bytes - done);
                if (got <= 0) break;
                done += static_cast<std::size_t>(got);
            }
            ::close(fd);
            benchmark::DoNotOptimize(buffer.get());
        }
        std::remove(path.c_str());
        CountBytes(state, Picture(Content::RandomBytes, format, size).ImageBytes());
    });
    RegisterOurs(write, size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        const std::string path = ScratchFile("write.bmp");
        for (auto _ : state) WritePictureFile(QString::fromStdString(path), source);
        std::remove(path.c_str());
        CountBytes(state, source.ImageBytes());
    });
    Register(write, "qt", size, [=](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        const QImage image = QImage::fromData(Encoded(format, size), "BMP");
        const std::string path = ScratchFile("write.bmp");
        for (auto _ : state) {
            QSaveFile file(QString::fromStdString(path));
            if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "BMP") || !file.commit())
                return state.SkipWithError("Qt could not save the file");
        }
        std::remove(path.c_str());
        CountBytes(state, source.ImageBytes());
    });
}

} // namespace

void RegisterBmp()
{
    for (int size : Sizes)
        for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
            RegisterDecode(format, size);
            RegisterEncode(format, size);
            RegisterFiles(format, size);
        }
}

} // namespace bench

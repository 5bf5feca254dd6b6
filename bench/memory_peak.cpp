// Peak memory of opening pictures, each row in a process of its own: a
// session on a 10000 x 10000 8-bit BMP (open, Edge Detection, view at 25%,
// save), a 16384 x 30000 16-bit RGBA PNG, a 20000 x 15000 (300-megapixel)
// 16-bit RGB TIFF deflated and uncompressed, a 10000 x 10000 GIF, a 10000 x 10000 lossless WebP with
// alpha, and a GIF and an MNG that claim sizes Qt would decode in gigabytes.
//
// Each row prints one JSON line with the process's peak resident size
// (VmHWM) beside its bar: the session's is twice the picture's bytes plus
// 150 MB; an opened file's twice the picture's bytes plus 256 MiB; a
// refused file's 256 MiB. The program exits 1 when a row is over its bar.
// Given no row, it runs every row in a child process, since a process's
// peak only rises.
#include "imaging/edge_detection.h"
#include "platform/files/picture_files.h"
#include "platform/pictures/picture_view.h"

#include <QDir>
#include <QImageReader>

#include <gif_lib.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double MiB = 1024.0 * 1024.0;
constexpr int Side = 10000;
constexpr std::uint32_t PngWidth = 16384, PngHeight = 30000;

void Put32(std::vector<std::uint8_t> &bytes, std::size_t at, std::uint32_t v, bool bigEndian)
{
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * (bigEndian ? 3 - i : i)));
}

void Write(std::ofstream &out, const std::vector<std::uint8_t> &bytes)
{
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The files are written a row at a time, so that making them raises no peak.
void WriteGreyBmp(const std::string &path)
{
    const std::uint32_t paletteBytes = 256 * 4, pixelsAt = 14 + 40 + paletteBytes;
    const std::uint32_t imageBytes = std::uint32_t(Side) * Side;
    std::vector<std::uint8_t> head(pixelsAt, 0);
    head[0] = 'B';
    head[1] = 'M';
    Put32(head, 2, pixelsAt + imageBytes, false);
    Put32(head, 10, pixelsAt, false);
    Put32(head, 14, 40, false);
    Put32(head, 18, Side, false);
    Put32(head, 22, Side, false);
    head[26] = 1;
    head[28] = 8;
    Put32(head, 34, imageBytes, false);
    Put32(head, 46, 256, false);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) head[54 + 4 * static_cast<std::size_t>(i) + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(i);
    std::ofstream out(path, std::ios::binary);
    Write(out, head);
    std::vector<std::uint8_t> row(Side);
    std::uint32_t state = 12345;
    for (int y = 0; y < Side; ++y) {
        for (std::uint8_t &byte : row) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        Write(out, row);
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WritePngChunk(std::ofstream &out, const char *type, const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> head(8);
    Put32(head, 0, static_cast<std::uint32_t>(size), true);
    std::copy(type, type + 4, head.begin() + 4);
    uLong crc = crc32(crc32(0, nullptr, 0), head.data() + 4, 4);
    if (size) crc = crc32(crc, data, static_cast<uInt>(size));
    std::vector<std::uint8_t> tail(4);
    Put32(tail, 0, static_cast<std::uint32_t>(crc), true);
    Write(out, head);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    Write(out, tail);
}

// 16 bits a channel, opaque, in colour stripes: every row after the first
// is filtered as equal to the one above, so the file takes a few MB.
void WriteWidePng(const std::string &path)
{
    std::ofstream out(path, std::ios::binary);
    out.write("\x89PNG\r\n\x1a\n", 8);
    std::vector<std::uint8_t> header(13, 0);
    Put32(header, 0, PngWidth, true);
    Put32(header, 4, PngHeight, true);
    header[8] = 16;
    header[9] = 6;
    WritePngChunk(out, "IHDR", header.data(), header.size());
    z_stream stream{};
    if (deflateInit(&stream, 1) != Z_OK) throw std::runtime_error("zlib");
    std::vector<std::uint8_t> row(1 + std::size_t(PngWidth) * 8), compressed(1 << 20);
    for (std::uint32_t x = 0; x < PngWidth; ++x) {
        const std::uint16_t channels[4] = {std::uint16_t(x * 4), std::uint16_t(x * 7 + 1000), std::uint16_t(65535 - x * 3), 65535};
        for (int c = 0; c < 4; ++c) {
            row[1 + 8 * x + 2 * c] = static_cast<std::uint8_t>(channels[c] >> 8);
            row[2 + 8 * x + 2 * c] = static_cast<std::uint8_t>(channels[c]);
        }
    }
    const auto deflateRow = [&](int flush) {
        stream.next_in = row.data();
        stream.avail_in = flush == Z_FINISH ? 0 : static_cast<uInt>(row.size());
        int status;
        do {
            stream.next_out = compressed.data();
            stream.avail_out = static_cast<uInt>(compressed.size());
            status = deflate(&stream, flush);
            const std::size_t made = compressed.size() - stream.avail_out;
            if (made) WritePngChunk(out, "IDAT", compressed.data(), made);
        } while (stream.avail_in > 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    };
    deflateRow(Z_NO_FLUSH);
    std::fill(row.begin(), row.end(), 0);
    row[0] = 2;   // Up: the same pixels as the row above
    for (std::uint32_t y = 1; y < PngHeight; ++y) deflateRow(Z_NO_FLUSH);
    deflateRow(Z_FINISH);
    deflateEnd(&stream);
    WritePngChunk(out, "IEND", nullptr, 0);
    if (!out) throw std::runtime_error("cannot write " + path);
}

constexpr std::uint32_t TiffWidth = 20000, TiffHeight = 15000;

// 16 bits a sample, RGB, in deflated strips of 16 rows of smooth colour.
void WriteDeepTiff(const std::string &path)
{
    TIFF *tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) throw std::runtime_error("cannot write " + path);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, TiffWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, TiffHeight);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<std::uint16_t> row(3 * std::size_t(TiffWidth));
    for (std::uint32_t y = 0; y < TiffHeight; ++y) {
        for (std::uint32_t x = 0; x < TiffWidth; ++x) {
            row[3 * x] = static_cast<std::uint16_t>(x * 3);
            row[3 * x + 1] = static_cast<std::uint16_t>(y * 4);
            row[3 * x + 2] = static_cast<std::uint16_t>((x + y) * 2);
        }
        if (TIFFWriteScanline(tiff, row.data(), y, 0) != 1) {
            TIFFClose(tiff);
            throw std::runtime_error("cannot write " + path);
        }
    }
    TIFFClose(tiff);
}

// The same picture's size as a TIFF of 16-bit RGB strips of 16 rows,
// uncompressed: a 1.8 GB file, about the largest that opens. Its
// directory comes first and its samples are left a hole of zeros, so that
// making it takes neither time nor memory.
void WriteUncompressedDeepTiff(const std::string &path)
{
    constexpr std::uint32_t rowsPerStrip = 16, strips = (TiffHeight + rowsPerStrip - 1) / rowsPerStrip, entries = 10;
    constexpr std::uint64_t rowBytes = std::uint64_t(TiffWidth) * 6, pixelsAt = 1 << 20;
    const std::uint32_t bitsAt = 8 + 2 + 12 * entries + 4, offsetsAt = bitsAt + 6, countsAt = offsetsAt + 4 * strips;
    std::vector<std::uint8_t> head(pixelsAt, 0);
    if (countsAt + 4 * strips > head.size()) throw std::runtime_error("the directory does not fit before the samples");
    const auto put16 = [&](std::size_t at, std::uint32_t v) { head[at] = static_cast<std::uint8_t>(v), head[at + 1] = static_cast<std::uint8_t>(v >> 8); };
    head[0] = head[1] = 'I';
    head[2] = 42;
    Put32(head, 4, 8, false);
    put16(8, entries);
    std::size_t at = 10;
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
        put16(at, tag);
        put16(at + 2, type);
        Put32(head, at + 4, count, false);
        if (type == 3 && count == 1) put16(at + 8, value);
        else Put32(head, at + 8, value, false);
        at += 12;
    };
    entry(256, 4, 1, TiffWidth);
    entry(257, 4, 1, TiffHeight);
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);   // uncompressed
    entry(262, 3, 1, 2);   // RGB
    entry(273, 4, strips, offsetsAt);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, rowsPerStrip);
    entry(279, 4, strips, countsAt);
    entry(284, 3, 1, 1);   // samples interleaved
    for (int s = 0; s < 3; ++s) put16(bitsAt + 2 * std::size_t(s), 16);
    for (std::uint32_t s = 0; s < strips; ++s) {
        const std::uint64_t rows = std::min<std::uint64_t>(rowsPerStrip, TiffHeight - s * rowsPerStrip);
        Put32(head, offsetsAt + 4 * std::size_t(s), static_cast<std::uint32_t>(pixelsAt + s * rowsPerStrip * rowBytes), false);
        Put32(head, countsAt + 4 * std::size_t(s), static_cast<std::uint32_t>(rows * rowBytes), false);
    }
    {
        std::ofstream out(path, std::ios::binary);
        Write(out, head);
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    if (truncate(path.c_str(), static_cast<off_t>(pixelsAt + rowBytes * TiffHeight)) != 0) throw std::runtime_error("cannot write " + path);
}

// Written by giflib a row at a time: 16 colours in diagonal bands.
void WriteLargeGif(const std::string &path)
{
    int error = 0;
    GifFileType *gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) throw std::runtime_error("cannot write " + path);
    GifColorType colours[16];
    for (int i = 0; i < 16; ++i) colours[i] = {static_cast<GifByteType>(i * 16), static_cast<GifByteType>(255 - i * 16), static_cast<GifByteType>(i * 8)};
    ColorMapObject *map = GifMakeMapObject(16, colours);
    bool written = EGifPutScreenDesc(gif, Side, Side, 4, 0, map) == GIF_OK && EGifPutImageDesc(gif, 0, 0, Side, Side, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(Side);
    for (int y = 0; y < Side && written; ++y) {
        for (int x = 0; x < Side; ++x) row[static_cast<std::size_t>(x)] = static_cast<GifPixelType>(((x + y) / 64) % 16);
        written = EGifPutLine(gif, row.data(), Side) == GIF_OK;
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK || !written) throw std::runtime_error("cannot write " + path);
}

// Lossless, with alpha that varies, encoded at libwebp's fastest in a
// child process: the encoder holds the whole picture, and this process's
// peak must not.
void WriteLosslessWebp(const std::string &path)
{
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<std::uint8_t> bgra(std::size_t(Side) * Side * 4);
        for (std::size_t y = 0; y < Side; ++y)
            for (std::size_t x = 0; x < Side; ++x) {
                std::uint8_t *p = &bgra[(y * Side + x) * 4];
                p[0] = static_cast<std::uint8_t>(x / 40), p[1] = static_cast<std::uint8_t>(y / 40), p[2] = 128, p[3] = static_cast<std::uint8_t>(255 - (x + y) / 80);
            }
        WebPConfig config;
        WebPPicture picture;
        if (!WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, 0) || !WebPPictureInit(&picture)) _exit(1);
        picture.use_argb = 1;
        picture.width = Side;
        picture.height = Side;
        WebPMemoryWriter memory;
        WebPMemoryWriterInit(&memory);
        picture.writer = WebPMemoryWrite;
        picture.custom_ptr = &memory;
        if (!WebPPictureImportBGRA(&picture, bgra.data(), Side * 4) || !WebPEncode(&config, &picture)) _exit(1);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(memory.mem), static_cast<std::streamsize>(memory.size));
        _exit(out ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot write " + path);
}

// 43 bytes: a 16000 x 16000 screen holding one 1 x 1 frame.
void WriteGifClaim(const std::string &path)
{
    std::ofstream out(path, std::ios::binary);
    out.write("GIF89a\x80\x3E\x80\x3E\xF0\0\0\0\0\0\xFF\xFF\xFF\x21\xF9\x04\0\0\0\0\0,\0\0\0\0\1\0\1\0\0\2\2\x4C\x01\0;", 43);
}

// An MNG whose header claims a 20000 x 20000 frame, holding one 1 x 1 PNG.
void WriteMngClaim(const std::string &path)
{
    std::ofstream out(path, std::ios::binary);
    out.write("\x8aMNG\r\n\x1a\n", 8);
    std::vector<std::uint8_t> header(28, 0);
    Put32(header, 0, 20000, true);
    Put32(header, 4, 20000, true);
    Put32(header, 8, 1, true);
    Put32(header, 24, 1, true);
    WritePngChunk(out, "MHDR", header.data(), header.size());
    const std::uint8_t image[13] = {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0};
    WritePngChunk(out, "IHDR", image, sizeof image);
    const std::uint8_t data[10] = {0x78, 0x9c, 0x63, 0x60, 0, 0, 0, 0x02, 0, 0x01};
    WritePngChunk(out, "IDAT", data, sizeof data);
    WritePngChunk(out, "IEND", nullptr, 0);
    WritePngChunk(out, "MEND", nullptr, 0);
}

double PeakMB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return static_cast<double>(std::stol(line.substr(6))) * 1024 / 1e6;
    return -1;
}

std::string Quoted(const std::string &text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Folder() { return QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm" : "/tmp"; }
std::string TempPath(const char *name) { return Folder() + "/pw-peak-" + std::to_string(getpid()) + "-" + name; }

// The session row: its bar is the one it has always had.
int Session()
{
    const std::string opened = TempPath("in.bmp"), saved = TempPath("out.bmp");
    int status = 0;
    try {
        WriteGreyBmp(opened);
        const double before = PeakMB();
        TBitmap bitmap;
        ReadPictureFile(QString::fromStdString(opened), bitmap);
        EdgeDetection(bitmap);
        const QSize shown(Side / 4, Side / 4);
        const QImage view = RenderPictureView(bitmap, shown, QRect(QPoint(900, 900), QSize(688, 424)));
        WritePictureFile(QString::fromStdString(saved), bitmap);
        const double peak = PeakMB();
        const double pictureMB = static_cast<double>(bitmap.ImageBytes()) / 1e6;
        const double limitMB = 2 * pictureMB + 150;
        std::cout << "{\"row\": \"session\", \"what\": \"open a 10000 x 10000 8-bit BMP, Edge Detection, view at 25%, save\", "
                  << "\"picture_mb\": " << pictureMB << ", \"start_mb\": " << before << ", \"peak_mb\": " << peak
                  << ", \"limit_mb\": " << limitMB << ", \"view_pixels\": " << view.width() * view.height() << "}\n";
        status = peak <= limitMB ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << error.what() << "\n";
        status = 2;
    }
    std::remove(opened.c_str());
    std::remove(saved.c_str());
    return status;
}

// A row that opens one file: opened, its bar is twice the picture's bytes
// plus 256 MiB; refused, 256 MiB.
int Opening(const char *row, const char *what, const char *name, void (*make)(const std::string &))
{
    const std::string path = TempPath(name);
    int status = 0;
    try {
        make(path);
        const double before = PeakMB();
        TBitmap bitmap;
        std::string refused;
        try {
            ReadPictureFile(QString::fromStdString(path), bitmap);
        } catch (const Exception &error) {
            refused = error.Message().toStdString();
        }
        const double peak = PeakMB();
        const double pictureMB = static_cast<double>(bitmap.ImageBytes()) / 1e6;
        const double limitMB = 2 * pictureMB + 256 * MiB / 1e6;
        std::cout << "{\"row\": " << Quoted(row) << ", \"what\": " << Quoted(what) << ", \"picture_mb\": " << pictureMB
                  << ", \"start_mb\": " << before << ", \"peak_mb\": " << peak << ", \"limit_mb\": " << limitMB
                  << ", \"refused\": " << (refused.empty() ? "null" : Quoted(refused)) << "}\n";
        status = peak <= limitMB ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << error.what() << "\n";
        status = 2;
    }
    std::remove(path.c_str());
    return status;
}

int Row(const std::string &row)
{
    if (row == "session") return Session();
    if (row == "png16") return Opening("png16", "open a 16384 x 30000 PNG of 16-bit RGBA", "wide.png", WriteWidePng);
    if (row == "tiff16") return Opening("tiff16", "open a 20000 x 15000 (300-megapixel) TIFF of 16-bit RGB, deflated (a 1 GB file)", "deep.tif", WriteDeepTiff);
    if (row == "tiff16raw")
        return Opening("tiff16raw", "open a 20000 x 15000 (300-megapixel) TIFF of 16-bit RGB, uncompressed (a 1.8 GB file)", "raw.tif", WriteUncompressedDeepTiff);
    if (row == "gif100") return Opening("gif100", "open a 10000 x 10000 GIF", "large.gif", WriteLargeGif);
    if (row == "webp100") return Opening("webp100", "open a 10000 x 10000 lossless WebP with alpha", "lossless.webp", WriteLosslessWebp);
    if (row == "gif") return Opening("gif", "open a 43-byte GIF that claims 16000 x 16000", "claim.gif", WriteGifClaim);
    if (row == "mng") {
        if (!QImageReader::supportedImageFormats().contains("mng")) {
            std::cout << "{\"row\": \"mng\", \"skipped\": \"Qt's MNG plugin is not installed\"}\n";
            return 0;
        }
        return Opening("mng", "open an MNG that claims 20000 x 20000", "claim.mng", WriteMngClaim);
    }
    std::cerr << "unknown row " << row << "; the rows are session, png16, tiff16, tiff16raw, gif100, webp100, gif and mng\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) return Row(argv[1]);
    int worst = 0;
    for (const char *row : {"session", "png16", "tiff16", "tiff16raw", "gif100", "webp100", "gif", "mng"}) {
        std::cout.flush();
        const pid_t child = fork();
        if (child == 0) {
            execl("/proc/self/exe", argv[0], row, static_cast<char *>(nullptr));
            _exit(2);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
            std::cerr << "the " << row << " row did not finish\n";
            worst = 2;
            continue;
        }
        worst = std::max(worst, WEXITSTATUS(status));
    }
    return worst;
}

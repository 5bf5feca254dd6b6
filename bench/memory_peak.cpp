// Peak memory of a session on a 10000 x 10000 8-bit BMP: open, Edge Detection, view at 25%, save.
//
// Prints the process's peak resident size (VmHWM) beside the bar of twice
// the picture's bytes plus 150 MB, and exits 1 when it is over the bar.
#include "imaging/edge_detection.h"
#include "platform/files/picture_files.h"
#include "platform/pictures/picture_view.h"

#include <QDir>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Side = 10000;

// The file is written a row at a time, so that making it raises no peak.
void WriteGreyBmp(const std::string &path)
{
    const std::uint32_t paletteBytes = 256 * 4, pixelsAt = 14 + 40 + paletteBytes;
    const std::uint32_t imageBytes = std::uint32_t(Side) * Side;
    std::vector<std::uint8_t> head(pixelsAt, 0);
    auto put32 = [&head](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) head[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    head[0] = 'B';
    head[1] = 'M';
    put32(2, pixelsAt + imageBytes);
    put32(10, pixelsAt);
    put32(14, 40);
    put32(18, Side);
    put32(22, Side);
    head[26] = 1;
    head[28] = 8;
    put32(34, imageBytes);
    put32(46, 256);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) head[54 + 4 * static_cast<std::size_t>(i) + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(i);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(head.data()), static_cast<std::streamsize>(head.size()));
    std::vector<char> row(Side);
    std::uint32_t state = 12345;
    for (int y = 0; y < Side; ++y) {
        for (char &byte : row) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<char>(state >> 24);
        }
        out.write(row.data(), Side);
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main()
{
    const std::string folder = QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm" : "/tmp";
    const std::string opened = folder + "/pw-peak-" + std::to_string(getpid()) + "-in.bmp";
    const std::string saved = folder + "/pw-peak-" + std::to_string(getpid()) + "-out.bmp";
    int status = 0;
    try {
        WriteGreyBmp(opened);
        const long before = PeakKiB();
        TBitmap bitmap;
        ReadPictureFile(QString::fromStdString(opened), bitmap);
        EdgeDetection(bitmap);
        const QSize shown(Side / 4, Side / 4);
        const QImage view = RenderPictureView(bitmap, shown, QRect(QPoint(900, 900), QSize(688, 424)));
        WritePictureFile(QString::fromStdString(saved), bitmap);
        const long peak = PeakKiB();
        const double pictureMB = static_cast<double>(bitmap.ImageBytes()) / 1e6;
        const double peakMB = static_cast<double>(peak) * 1024 / 1e6;
        const double limitMB = 2 * pictureMB + 150;
        std::cout << "{\"picture_mb\": " << pictureMB << ", \"start_mb\": " << static_cast<double>(before) * 1024 / 1e6
                  << ", \"peak_mb\": " << peakMB << ", \"limit_mb\": " << limitMB
                  << ", \"view_pixels\": " << view.width() * view.height() << "}\n";
        status = peakMB <= limitMB ? 0 : 1;
    } catch (const std::exception &error) {
        std::cerr << error.what() << "\n";
        status = 2;
    }
    std::remove(opened.c_str());
    std::remove(saved.c_str());
    return status;
}

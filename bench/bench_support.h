// Pictures the benchmarks share, their Qt and OpenCV views, and comparisons between them.
#pragma once

#include "platform/pictures/bitmap.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

#ifdef PW_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace bench {

// The square sizes every operation runs at; the targets apply to the two larger.
inline constexpr int Sizes[] = {1024, 4096, 8192};

enum class Content {
    RandomBytes,   // every byte from a generator: no runs, no structure
    FewColours,    // 200 colours in runs of varied length and scattered pixels
    Photograph,    // many colours: a tiled photograph, or smooth shading with noise
};

// A picture of size x size, made once and kept until a different one is
// asked for in the same slot (benchmarks of one picture run one after another).
const TBitmap &Picture(Content content, TPixelFormat format, int size);
// The picture of `size` each repaint benchmark views (10000 x 10000).
const TBitmap &ViewedPicture(TPixelFormat format);
// The same picture carrying a colour profile (empty: none).
const TBitmap &ViewedPicture(TPixelFormat format, const QByteArray &profile);

// A fresh copy that an in-place operation may change.
void CopyInto(const TBitmap &source, TBitmap &copy);

// Qt's form of a bitmap: Indexed8 with its palette, RGB888 or RGB32.
QImage ToQImage(const TBitmap &bitmap);
// Every pixel of the bitmap has the colour of the QImage's pixel.
bool SameAsQImage(const TBitmap &bitmap, const QImage &image);

// Mean over every pixel and channel of |a - b|, the colours as GetPixel reads them.
double MeanAbsoluteError(const TBitmap &a, const TBitmap &b);
double MeanAbsoluteError(const TBitmap &a, const QImage &b);

// Where the shared photographs are, when present.
std::optional<QString> PhotosDir();

// The coffee photograph scaled up smoothly to 6000 x 4000 (24 megapixels),
// with noise of up to 8 levels a channel as a camera sensor adds; made
// once, null when the photographs are absent.
inline constexpr int PhotoWidth = 6000, PhotoHeight = 4000;
const TBitmap *Photograph();

// A folder in memory for the file benchmarks (/dev/shm, else /tmp).
std::string ScratchFile(const std::string &name);

// "pf8bit", "pf24bit" or "pf32bit", for benchmark names.
const char *FormatName(TPixelFormat format);

// True the first time a key is seen: a peer's result is compared with ours
// once per operation and size, not at every repetition.
bool FirstTime(const std::string &key);

// The bytes an operation reads (and writes back) per run.
void CountBytes(benchmark::State &state, std::size_t bytes);

#ifdef PW_HAVE_OPENCV
// OpenCV's threads while it lives: one, or its default (-1).
class TOpenCvThreads {
public:
    explicit TOpenCvThreads(int threads);
    ~TOpenCvThreads();
    TOpenCvThreads(const TOpenCvThreads &) = delete;
    TOpenCvThreads &operator=(const TOpenCvThreads &) = delete;

private:
    int previous_;
};
// The OpenCV peers of an operation: on one thread ("opencv-1thread") and
// on its default threads ("opencv"), each the same run.
void RegisterOpenCv(const std::string &operation, int size, const std::function<void(benchmark::State &)> &run);

// An OpenCV view of the bitmap's rows (no copy): CV_8UC1, CV_8UC3 or CV_8UC4.
cv::Mat MatOf(TBitmap &bitmap);
cv::Mat MatOf(const TBitmap &bitmap);
bool SameBytes(const TBitmap &bitmap, const cv::Mat &mat);
#endif

} // namespace bench

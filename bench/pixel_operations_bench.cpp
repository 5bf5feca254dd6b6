// Complement, Edge Detection and Mirror on every core and on one, beside the
// machine's yardsticks on every core and OpenCV on one thread and on its own.
#include "bench_registry.h"
#include "bench_support.h"

#include "imaging/complement.h"
#include "imaging/edge_detection.h"
#include "imaging/mirror.h"

#include <cstring>
#include <functional>

#ifdef PW_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace bench {
namespace {

// x ^= 0xFF over every byte, written so that the compiler vectorises it: the
// fastest in-place pass over the bytes that plain code reaches.
__attribute__((noinline)) void ReadModifyWrite(std::uint8_t *bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) bytes[i] ^= 0xFF;
}

// A pass over every row of a picture without padding, in the bands of
// rows our operations take, on every core.
void OnEveryCore(TBitmap &bitmap, const std::function<void(std::size_t offset, std::size_t bytes)> &pass)
{
    const std::size_t stride = bitmap.BytesPerRow();
    ForEachBand(bitmap.GetHeight(), stride, [&](const TBand &band, unsigned) {
        pass(stride * static_cast<std::size_t>(band.first), stride * static_cast<std::size_t>(band.end - band.first));
    });
}

bool SameImageBytes(const TBitmap &a, const TBitmap &b)
{
    return a.ImageBytes() == b.ImageBytes() && a.GetRowOrder() == b.GetRowOrder() &&
           std::memcmp(a.RowsBlock(0, a.GetHeight()), b.RowsBlock(0, b.GetHeight()), a.ImageBytes()) == 0;
}

void RegisterComplement(int size)
{
    const std::string op = "Complement.pf8bit";
    RegisterOurs(op, size, [size](benchmark::State &state) {
        TBitmap work;
        CopyInto(Picture(Content::RandomBytes, pf8bit, size), work);
        for (auto _ : state) Complement(work);
        CountBytes(state, work.ImageBytes());
    });
    // The yardsticks on every core, as the operation runs.
    Register(op, "rmw", size, [size, op](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, pf8bit, size);
        TBitmap work, ours;
        CopyInto(source, work);
        const auto pass = [&work](std::size_t offset, std::size_t bytes) { ReadModifyWrite(work.Row(0) + offset, bytes); };
        if (FirstTime(op + "rmw" + std::to_string(size))) {
            CopyInto(source, ours);
            Complement(ours);
            OnEveryCore(work, pass);
            if (!SameImageBytes(ours, work)) return state.SkipWithError("the pass differs from Complement");
        }
        for (auto _ : state) OnEveryCore(work, pass);
        CountBytes(state, work.ImageBytes());
    });
    Register(op, "memcpy", size, [size](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, pf8bit, size);
        TBitmap work;
        CopyInto(source, work);
        for (auto _ : state) {
            OnEveryCore(work, [&](std::size_t offset, std::size_t bytes) { std::memcpy(work.Row(0) + offset, source.Row(0) + offset, bytes); });
            benchmark::ClobberMemory();
        }
        CountBytes(state, work.ImageBytes());
    });
#ifdef PW_HAVE_OPENCV
    RegisterOpenCv(op, size, [size, op](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, pf8bit, size);
        TBitmap work, ours;
        CopyInto(source, work);
        cv::Mat mat = MatOf(work);
        if (FirstTime(op + "cv" + std::to_string(size))) {
            CopyInto(source, ours);
            Complement(ours);
            cv::bitwise_not(mat, mat);
            if (!SameBytes(ours, mat)) return state.SkipWithError("bitwise_not differs from Complement");
        }
        for (auto _ : state) cv::bitwise_not(mat, mat);
        CountBytes(state, work.ImageBytes());
    });
#endif
}

void RegisterEdgeDetection(int size)
{
    const std::string op = "EdgeDetection.pf8bit";
    RegisterOurs(op, size, [size](benchmark::State &state) {
        TBitmap work;
        CopyInto(Picture(Content::RandomBytes, pf8bit, size), work);
        for (auto _ : state) EdgeDetection(work);
        CountBytes(state, work.ImageBytes());
    });
#ifdef PW_HAVE_OPENCV
    // filter2D has no periodic border: the picture is padded by one pixel
    // of its own wrapped rows and columns first, and that is timed too.
    RegisterOpenCv(op, size, [size, op](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, pf8bit, size);
        const cv::Mat in = MatOf(source);
        cv::Mat kernel(3, 3, CV_32F, cv::Scalar(-1));
        kernel.at<float>(1, 1) = 8;
        cv::Mat padded, out;
        auto run = [&] {
            cv::copyMakeBorder(in, padded, 1, 1, 1, 1, cv::BORDER_WRAP);
            cv::filter2D(padded, out, CV_8U, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        };
        if (FirstTime(op + std::to_string(size))) {
            TBitmap ours;
            CopyInto(source, ours);
            EdgeDetection(ours);
            run();
            if (!SameBytes(ours, out(cv::Rect(1, 1, size, size))))
                return state.SkipWithError("filter2D differs from EdgeDetection");
        }
        for (auto _ : state) run();
        CountBytes(state, source.ImageBytes());
    });
#endif
}

void RegisterMirror(TPixelFormat format, int size)
{
    const std::string op = std::string("Mirror.") + FormatName(format);
    RegisterOurs(op, size, [size, format](benchmark::State &state) {
        TBitmap work;
        CopyInto(Picture(Content::RandomBytes, format, size), work);
        for (auto _ : state) MirrorLeftRight(work);
        CountBytes(state, work.ImageBytes());
    });
#ifdef PW_HAVE_OPENCV
    // Into a picture made beforehand: flip's usual use.
    RegisterOpenCv(op, size, [size, format, op](benchmark::State &state) {
        const TBitmap &source = Picture(Content::RandomBytes, format, size);
        const cv::Mat in = MatOf(source);
        cv::Mat out(in.size(), in.type());
        if (FirstTime(op + std::to_string(size))) {
            TBitmap ours;
            CopyInto(source, ours);
            MirrorLeftRight(ours);
            cv::flip(in, out, 1);
            if (!SameBytes(ours, out)) return state.SkipWithError("flip differs from MirrorLeftRight");
        }
        for (auto _ : state) cv::flip(in, out, 1);
        CountBytes(state, source.ImageBytes());
    });
#endif
}

} // namespace

void RegisterPixelOperations()
{
    for (int size : Sizes) {
        RegisterComplement(size);
        RegisterEdgeDetection(size);
        for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) RegisterMirror(format, size);
    }
}

} // namespace bench

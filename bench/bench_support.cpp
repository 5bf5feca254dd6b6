// Pictures the benchmarks share, their Qt and OpenCV views, and comparisons between them.
#include "bench_support.h"
#include "bench_registry.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <memory>
#include <tuple>
#include <unistd.h>
#include <vector>
#include <algorithm>

namespace bench {
namespace {

// A small fast generator: pictures of 256 MiB are filled in a fraction of a second.
struct Random {
    std::uint64_t state;
    std::uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

void FillRandom(TBitmap &bitmap, std::uint64_t seed)
{
    Random random{seed};
    const std::size_t bytes = bitmap.ImageBytes();
    std::uint8_t *p = bitmap.RowsBlock(0, bitmap.GetHeight());
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        const std::uint64_t v = random.Next();
        std::memcpy(p + i, &v, 8);
    }
    for (; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(random.Next());
    // Padding stays 0, as the bitmap promises.
    const std::size_t used = static_cast<std::size_t>(bitmap.GetWidth()) * BitsPerPixel(bitmap.GetPixelFormat()) / 8;
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        std::memset(bitmap.Row(y) + used, 0, bitmap.BytesPerRow() - used);
}

TPalette RandomPalette(std::uint64_t seed)
{
    Random random{seed};
    TPalette palette{};
    for (TColor &c : palette) c = static_cast<TColor>(random.Next() & 0xFFFFFF);
    return palette;
}

// Pixels in runs of 1 to 48 of one colour, one pixel in eight on its own;
// colours from a table of 200.
void FillFewColours(TBitmap &bitmap)
{
    Random random{0x5EED5};
    TColor colours[200];
    for (TColor &c : colours) c = static_cast<TColor>(random.Next() & 0xFFFFFF);
    const int width = bitmap.GetWidth();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        for (int x = 0; x < width;) {
            const std::uint64_t r = random.Next();
            const int run = (r & 7) == 0 ? 1 : 1 + static_cast<int>((r >> 3) % 48);
            const TColor colour = colours[(r >> 16) % 200];
            for (const int end = std::min(width, x + run); x < end; ++x) bitmap.SetPixel(x, y, colour);
        }
    }
}

QImage LoadPhoto(const char *name)
{
    const std::optional<QString> dir = PhotosDir();
    if (!dir) return {};
    return QImage(*dir + QLatin1Char('/') + QLatin1String(name)).convertToFormat(QImage::Format_RGB32);
}

// The astronaut photograph tiled over the picture, each tile mirrored as
// needed so there are no seams; without it, smooth shading with noise.
void FillPhotograph(TBitmap &bitmap)
{
    const QImage photo = LoadPhoto("astronaut.png");
    Random random{0xF070};
    for (int y = 0; y < bitmap.GetHeight(); ++y)
        for (int x = 0; x < bitmap.GetWidth(); ++x) {
            if (!photo.isNull()) {
                const int pw = photo.width(), ph = photo.height();
                int px = x % (2 * pw), py = y % (2 * ph);
                if (px >= pw) px = 2 * pw - 1 - px;
                if (py >= ph) py = 2 * ph - 1 - py;
                const QRgb c = reinterpret_cast<const QRgb *>(photo.constScanLine(py))[px];
                bitmap.SetPixel(x, y, RGB(qRed(c), qGreen(c), qBlue(c)));
                continue;
            }
            const double fx = x / 97.0, fy = y / 131.0;
            auto level = [&](double base) {
                const int noise = static_cast<int>(random.Next() % 17) - 8;
                return std::clamp(static_cast<int>(base) + noise, 0, 255);
            };
            bitmap.SetPixel(x, y, RGB(level(128 + 100 * std::sin(fx + fy)), level(128 + 90 * std::cos(fx * 0.7 - fy)),
                                      level(128 + 80 * std::sin(fx * 1.3) * std::cos(fy * 0.9))));
        }
}

} // namespace

const TBitmap &Picture(Content content, TPixelFormat format, int size)
{
    static std::map<Content, std::tuple<TPixelFormat, int, std::unique_ptr<TBitmap>>> cache;
    auto &slot = cache[content];
    if (std::get<2>(slot) && std::get<0>(slot) == format && std::get<1>(slot) == size) return *std::get<2>(slot);
    std::get<2>(slot).reset();
    auto bitmap = std::make_unique<TBitmap>();
    if (content == Content::RandomBytes) {
        bitmap->Allocate(size, size, format);
        if (HasPalette(format)) bitmap->SetPalette(RandomPalette(7));
        FillRandom(*bitmap, 0x9E3779B97F4A7C15ull + static_cast<unsigned>(size));
    } else {
        // Made in 32 bits, then put in the asked format.
        bitmap->Allocate(size, size, pf32bit);
        if (content == Content::FewColours)
            FillFewColours(*bitmap);
        else
            FillPhotograph(*bitmap);
        if (format != pf32bit) bitmap->SetPixelFormat(format);
    }
    slot = {format, size, std::move(bitmap)};
    return *std::get<2>(slot);
}

const TBitmap &ViewedPicture(TPixelFormat format)
{
    return Picture(Content::RandomBytes, format, 10000);
}

const TBitmap &ViewedPicture(TPixelFormat format, const QByteArray &profile)
{
    // The kept picture itself (not a copy of 300 MB): the rows of the
    // plain view never read its metadata.
    auto &picture = const_cast<TBitmap &>(ViewedPicture(format));
    if (picture.GetMetadata().colourProfile != profile) picture.SetMetadata({.colourProfile = profile});
    return picture;
}

void CopyInto(const TBitmap &source, TBitmap &copy) { copy.Assign(&source); }

QImage ToQImage(const TBitmap &bitmap)
{
    const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
    const TPixelFormat format = bitmap.GetPixelFormat();
    QImage image;
    if (format == pf8bit) {
        image = QImage(width, height, QImage::Format_Indexed8);
        QList<QRgb> table;
        for (TColor c : bitmap.GetPalette()) table.push_back(qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
        image.setColorTable(table);
        for (int y = 0; y < height; ++y) std::memcpy(image.scanLine(y), bitmap.Row(y), static_cast<std::size_t>(width));
    } else if (format == pf24bit) {
        image = QImage(width, height, QImage::Format_RGB888);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *src = bitmap.Row(y);
            std::uint8_t *dst = image.scanLine(y);
            for (int x = 0; x < width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        }
    } else {
        image = QImage(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t *src = bitmap.Row(y);
            auto *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < width; ++x) dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
        }
    }
    return image;
}

namespace {

// Row y of a QImage as TColor values.
void QImageRow(const QImage &image, int y, std::vector<TColor> &out)
{
    const int width = image.width();
    out.resize(static_cast<std::size_t>(width));
    const std::uint8_t *s = image.constScanLine(y);
    auto colour = [](QRgb c) { return RGB(qRed(c), qGreen(c), qBlue(c)); };
    switch (image.format()) {
    case QImage::Format_Indexed8: {
        const QList<QRgb> table = image.colorTable();
        for (int x = 0; x < width; ++x) out[static_cast<std::size_t>(x)] = s[x] < table.size() ? colour(table[s[x]]) : -1;
        break;
    }
    case QImage::Format_RGB888:
        for (int x = 0; x < width; ++x) out[static_cast<std::size_t>(x)] = RGB(s[3 * x], s[3 * x + 1], s[3 * x + 2]);
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        for (int x = 0; x < width; ++x) out[static_cast<std::size_t>(x)] = colour(reinterpret_cast<const QRgb *>(s)[x]);
        break;
    default:
        for (int x = 0; x < width; ++x) out[static_cast<std::size_t>(x)] = colour(image.pixel(x, y));
        break;
    }
}

std::vector<TColor> BitmapRow(const TBitmap &bitmap, int y)
{
    std::vector<TColor> row(static_cast<std::size_t>(bitmap.GetWidth()));
    for (int x = 0; x < bitmap.GetWidth(); ++x) row[static_cast<std::size_t>(x)] = bitmap.GetPixel(x, y);
    return row;
}

double Difference(TColor a, TColor b)
{
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b))
           + std::abs(GetBValue(a) - GetBValue(b));
}

} // namespace

bool SameAsQImage(const TBitmap &bitmap, const QImage &image)
{
    if (image.width() != bitmap.GetWidth() || image.height() != bitmap.GetHeight()) return false;
    std::vector<TColor> theirs;
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        QImageRow(image, y, theirs);
        if (BitmapRow(bitmap, y) != theirs) return false;
    }
    return true;
}

double MeanAbsoluteError(const TBitmap &a, const TBitmap &b)
{
    double sum = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x) sum += Difference(a.GetPixel(x, y), b.GetPixel(x, y));
    return sum / (3.0 * a.GetWidth() * a.GetHeight());
}

double MeanAbsoluteError(const TBitmap &a, const QImage &b)
{
    double sum = 0;
    std::vector<TColor> theirs;
    for (int y = 0; y < a.GetHeight(); ++y) {
        QImageRow(b, y, theirs);
        for (int x = 0; x < a.GetWidth(); ++x) sum += Difference(a.GetPixel(x, y), theirs[static_cast<std::size_t>(x)]);
    }
    return sum / (3.0 * a.GetWidth() * a.GetHeight());
}

std::optional<QString> PhotosDir()
{
    const char *overridden = std::getenv("PW_CORPORA_DIR");
    const QString dir = (overridden ? QString::fromLocal8Bit(overridden) : QStringLiteral(PW_CORPORA_DIR))
                        + QStringLiteral("/photos");
    if (!QFileInfo(dir + QStringLiteral("/astronaut.png")).exists()) return std::nullopt;
    return QDir(dir).canonicalPath();
}

std::string ScratchFile(const std::string &name)
{
    const std::string folder = QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm" : "/tmp";
    return folder + "/pw-bench-" + std::to_string(getpid()) + "-" + name;
}

const char *FormatName(TPixelFormat format)
{
    return format == pf8bit ? "pf8bit" : format == pf24bit ? "pf24bit" : "pf32bit";
}

bool FirstTime(const std::string &key)
{
    static std::set<std::string> seen;
    return seen.insert(key).second;
}

void CountBytes(benchmark::State &state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

#ifdef PW_HAVE_OPENCV
TOpenCvThreads::TOpenCvThreads(int threads) : previous_(cv::getNumThreads()) { cv::setNumThreads(threads); }

TOpenCvThreads::~TOpenCvThreads() { cv::setNumThreads(previous_); }

void RegisterOpenCv(const std::string &operation, int size, const std::function<void(benchmark::State &)> &run)
{
    for (const auto &[name, threads] : {std::pair{"opencv-1thread", 1}, std::pair{"opencv", -1}})
        Register(operation, name, size, [run, threads](benchmark::State &state) {
            const TOpenCvThreads held(threads);
            run(state);
        });
}

cv::Mat MatOf(TBitmap &bitmap)
{
    const int type = bitmap.GetPixelFormat() == pf24bit ? CV_8UC3 : bitmap.GetPixelFormat() == pf32bit ? CV_8UC4 : CV_8UC1;
    return cv::Mat(bitmap.GetHeight(), bitmap.GetWidth(), type, bitmap.Row(0), bitmap.BytesPerRow());
}

cv::Mat MatOf(const TBitmap &bitmap) { return MatOf(const_cast<TBitmap &>(bitmap)); }

bool SameBytes(const TBitmap &bitmap, const cv::Mat &mat)
{
    const cv::Mat ours = MatOf(bitmap);
    if (ours.size() != mat.size() || ours.type() != mat.type()) return false;
    const std::size_t bytes = static_cast<std::size_t>(mat.cols) * mat.elemSize();
    for (int y = 0; y < mat.rows; ++y)
        if (std::memcmp(ours.ptr(y), mat.ptr(y), bytes) != 0) return false;
    return true;
}
#endif

const TBitmap *Photograph()
{
    static std::unique_ptr<TBitmap> made;
    static bool tried = false;
    if (tried) return made.get();
    tried = true;
    const std::optional<QString> dir = PhotosDir();
    if (!dir) return nullptr;
    const QImage photo = QImage(*dir + QStringLiteral("/coffee.png")).convertToFormat(QImage::Format_BGR888);
    if (photo.isNull()) return nullptr;
    const QImage large = photo.scaled(PhotoWidth, PhotoHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_BGR888);
    made = std::make_unique<TBitmap>();
    made->Allocate(PhotoWidth, PhotoHeight, pf24bit);
    std::uint32_t state = 0x5EED;
    for (int y = 0; y < PhotoHeight; ++y) {
        const uchar *in = large.constScanLine(y);
        std::uint8_t *out = made->Row(y);
        for (int x = 0; x < 3 * PhotoWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 16) % 17) - 8;
            out[x] = static_cast<std::uint8_t>(std::clamp(in[x] + noise, 0, 255));
        }
    }
    return made.get();
}

} // namespace bench

benchmark::internal::Benchmark *bench::Register(const std::string &operation, const std::string &implementation, int size,
                                                std::function<void(benchmark::State &)> run)
{
    const std::string name = operation + "/" + implementation + "/" + std::to_string(size);
    // The least time of the repetitions beside their median: what the
    // table reads for rows that a shared machine's slow spells swing
    // (bench/table.py, LEAST_TIME).
    return benchmark::RegisterBenchmark(name.c_str(), [run](benchmark::State &state) { run(state); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", [](const std::vector<double> &times) { return *std::min_element(times.begin(), times.end()); });
}

void bench::RegisterOurs(const std::string &operation, int size, const std::function<void(benchmark::State &)> &run,
                         double minSeconds)
{
    benchmark::internal::Benchmark *every = Register(operation, "ours", size, run);
    benchmark::internal::Benchmark *one = Register(operation, "ours-1thread", size, [run](benchmark::State &state) {
        const TPiecesHeld oneThread(1);
        run(state);
    });
    if (minSeconds > 0)
        for (benchmark::internal::Benchmark *b : {every, one}) b->MinTime(minSeconds);
}

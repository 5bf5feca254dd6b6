// Drawing part of a bitmap scaled to a shown size.
#include "platform/pictures/picture_view.h"

#include "platform/base/parallel_pieces.h"

#include <QPainter>

#include <algorithm>
#include <vector>

namespace {

// Up to this many samples a side are averaged for one shown pixel, so that
// a strongly reduced view costs no more than a mildly reduced one.
constexpr int MaxSamplesPerSide = 4;

struct Span {
    int first;     // first source pixel covered
    int count;     // source pixels covered, at least 1
};

// For each shown coordinate in [from, to): the source pixels it covers.
std::vector<Span> CoveredSpans(int from, int to, int shownSize, int sourceSize)
{
    std::vector<Span> spans;
    spans.reserve(static_cast<std::size_t>(std::max(0, to - from)));
    for (int d = from; d < to; ++d) {
        const int first = static_cast<int>(static_cast<long long>(d) * sourceSize / shownSize);
        const int end = static_cast<int>(static_cast<long long>(d + 1) * sourceSize / shownSize);
        spans.push_back({first, std::max(1, end - first)});
    }
    return spans;
}

// What a rendered row's step costs a pixel, counted in samples.
constexpr std::size_t RowStepSamples = 8;

int SampleStep(int count) { return std::max(1, count / MaxSamplesPerSide); }

// The sample positions of each span, spread evenly over it.
std::vector<int> SamplePositions(const Span &span)
{
    std::vector<int> positions;
    const int step = SampleStep(span.count);
    for (int p = span.first; p < span.first + span.count; p += step) positions.push_back(p);
    return positions;
}

// The shown rows, rendered in bands on every core: each band of about as
// many source samples as a band of another operation has bytes. A row's
// step, if any, follows its rendering on the same thread.
class TShownRows {
public:
    TShownRows(QImage &image, const std::vector<Span> &columns, const std::vector<Span> &rows, const TRenderedRowStep *eachRow)
        : bits_(image.bits()), bytesPerLine_(static_cast<std::size_t>(image.bytesPerLine())), rows_(static_cast<int>(rows.size())),
          columns_(columns.size()), eachRow_(eachRow)
    {
        int most = 1;
        for (const Span &span : columns) most = std::max(most, span.count);
        for (const Span &span : rows) most = std::max(most, span.count);
        const std::size_t samples = static_cast<std::size_t>(std::min(most, MaxSamplesPerSide));
        // A step costs a pixel about what a few samples do (a colour
        // transform's table lookups and sums): counted, so that a view at
        // full size, one sample a pixel, still splits when it takes one.
        samplesPerRow_ = columns.size() * (samples * samples + (eachRow ? RowStepSamples : 0)) * 4;
    }

    // row(j, pixels of shown row j) for every shown row.
    template <typename Row>
    void ForEach(const Row &row) const
    {
        ForEachBand(rows_, samplesPerRow_, [&](const TBand &band, unsigned) {
            for (int j = band.first; j < band.end; ++j) {
                QRgb *pixels = reinterpret_cast<QRgb *>(bits_ + bytesPerLine_ * static_cast<std::size_t>(j));
                row(static_cast<std::size_t>(j), pixels);
                if (eachRow_) (*eachRow_)(pixels, columns_);
            }
        });
    }

private:
    uchar *bits_;
    std::size_t bytesPerLine_;
    int rows_;
    std::size_t columns_;
    const TRenderedRowStep *eachRow_;
    std::size_t samplesPerRow_;
};

// One pixel of a row as 0x00RRGGBB, the order QImage's RGB32 stores.
template <TPixelFormat Format>
inline unsigned ReadRgb(const std::uint8_t *row, int x, const TPalette &palette)
{
    return pixel::Read<Format, pixel::TOrder::Rgb>(row, x, palette);
}

// Whether the fourth byte of each pixel is alpha: a picture read without
// alpha shows opaque whatever an operation left in that byte.
bool HasAlpha(const TBitmap &bitmap)
{
    return bitmap.GetPixelFormat() == pf32bit && bitmap.GetAlphaChannel() == TAlphaChannel::Used;
}

// The board's grey at a shown position.
inline unsigned CheckerAt(int x, int y) { return ((x / CheckerSide + y / CheckerSide) & 1) ? CheckerDark : CheckerLight; }

// rgb (0x00RRGGBB) with alpha a over the grey board, rounded to nearest.
inline QRgb Over(unsigned rgb, unsigned a, unsigned board)
{
    const unsigned under = board * (255 - a) + 127;
    const auto blend = [&](unsigned c) { return (c * a + under) / 255; };
    return qRgb(static_cast<int>(blend(rgb >> 16)), static_cast<int>(blend((rgb >> 8) & 0xFF)),
                static_cast<int>(blend(rgb & 0xFF)));
}

// 32-bit pixels with alpha: each shown pixel is the covered pixels' average
// weighted by their alpha (so a clear pixel's stored colour counts for
// nothing), over the board by their average alpha.
void RenderWithAlpha(const TBitmap &bitmap, const std::vector<Span> &columns, const std::vector<Span> &rows,
                     QPoint origin, const TRenderedRowStep *eachRow, QImage &image)
{
    std::vector<std::vector<int>> columnSamples;
    for (const Span &column : columns) columnSamples.push_back(SamplePositions(column));
    const TShownRows shownRows(image, columns, rows, eachRow);
    shownRows.ForEach([&](std::size_t j, QRgb *out) {
        const int shownY = origin.y() + static_cast<int>(j);
        const std::vector<int> rowSamples = SamplePositions(rows[j]);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const unsigned board = CheckerAt(origin.x() + static_cast<int>(i), shownY);
            if (rowSamples.size() == 1 && columnSamples[i].size() == 1) {
                const std::uint8_t *p = bitmap.Row(rowSamples[0]) + 4 * columnSamples[i][0];
                out[i] = p[3] == 255 ? qRgb(p[2], p[1], p[0]) : Over(p[2] << 16 | p[1] << 8 | p[0], p[3], board);
                continue;
            }
            unsigned long r = 0, g = 0, b = 0, a = 0, n = 0;
            for (int y : rowSamples) {
                const std::uint8_t *row = bitmap.Row(y);
                for (int x : columnSamples[i]) {
                    const std::uint8_t *p = row + 4 * x;
                    r += p[2] * p[3];
                    g += p[1] * p[3];
                    b += p[0] * p[3];
                    a += p[3];
                    ++n;
                }
            }
            // Premultiplied sums: colour c * a each; the board covers the rest.
            const unsigned long whole = 255 * n, under = board * (whole - a);
            const auto channel = [&](unsigned long sum) { return static_cast<int>((sum + under + whole / 2) / whole); };
            out[i] = qRgb(channel(r), channel(g), channel(b));
        }
    });
}

template <TPixelFormat Format>
void Render(const TBitmap &bitmap, const TPalette &palette, const std::vector<Span> &columns, const std::vector<Span> &rows,
            const TRenderedRowStep *eachRow, QImage &image)
{
    const bool enlarged = std::all_of(columns.begin(), columns.end(), [](const Span &s) { return s.count == 1; })
                          && std::all_of(rows.begin(), rows.end(), [](const Span &s) { return s.count == 1; });
    std::vector<std::vector<int>> columnSamples;
    if (!enlarged)
        for (const Span &column : columns) columnSamples.push_back(SamplePositions(column));
    const TShownRows shownRows(image, columns, rows, eachRow);
    shownRows.ForEach([&](std::size_t j, QRgb *out) {
        if (enlarged) {
            // Nearest neighbour: one source pixel for each shown pixel.
            const std::uint8_t *row = bitmap.Row(rows[j].first);
            for (std::size_t i = 0; i < columns.size(); ++i)
                out[i] = 0xFF000000u | ReadRgb<Format>(row, columns[i].first, palette);
            return;
        }
        const std::vector<int> rowSamples = SamplePositions(rows[j]);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            unsigned r = 0, g = 0, b = 0, n = 0;
            for (int y : rowSamples) {
                const std::uint8_t *row = bitmap.Row(y);
                for (int x : columnSamples[i]) {
                    const unsigned rgb = ReadRgb<Format>(row, x, palette);
                    r += rgb >> 16;
                    g += (rgb >> 8) & 0xFF;
                    b += rgb & 0xFF;
                    ++n;
                }
            }
            out[i] = qRgb(static_cast<int>((r + n / 2) / n), static_cast<int>((g + n / 2) / n),
                          static_cast<int>((b + n / 2) / n));
        }
    });
}

QImage Rendered(const TBitmap &bitmap, QSize shown, QRect exposed, const TPalette &palette, const TRenderedRowStep *eachRow)
{
    const QRect area = exposed & QRect(QPoint(0, 0), shown);
    if (area.isEmpty() || bitmap.Empty()) return {};
    QImage image(area.size(), QImage::Format_RGB32);
    const std::vector<Span> columns = CoveredSpans(area.left(), area.right() + 1, shown.width(), bitmap.GetWidth());
    const std::vector<Span> rows = CoveredSpans(area.top(), area.bottom() + 1, shown.height(), bitmap.GetHeight());
    switch (bitmap.GetPixelFormat()) {
    case pf1bit: Render<pf1bit>(bitmap, palette, columns, rows, eachRow, image); break;
    case pf4bit: Render<pf4bit>(bitmap, palette, columns, rows, eachRow, image); break;
    case pf8bit: Render<pf8bit>(bitmap, palette, columns, rows, eachRow, image); break;
    case pf15bit: Render<pf15bit>(bitmap, palette, columns, rows, eachRow, image); break;
    case pf16bit: Render<pf16bit>(bitmap, palette, columns, rows, eachRow, image); break;
    case pf24bit: Render<pf24bit>(bitmap, palette, columns, rows, eachRow, image); break;
    case pf32bit:
        if (HasAlpha(bitmap))
            RenderWithAlpha(bitmap, columns, rows, area.topLeft(), eachRow, image);
        else
            Render<pf32bit>(bitmap, palette, columns, rows, eachRow, image);
        break;
    default:
        image.fill(Qt::black);
        // RGB32 rows have no padding: the step once over them all.
        if (eachRow) (*eachRow)(reinterpret_cast<QRgb *>(image.bits()), static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height()));
        break;
    }
    return image;
}

} // namespace

QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed)
{
    return Rendered(bitmap, shown, exposed, bitmap.GetPalette(), nullptr);
}

QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed, const TPalette &palette)
{
    return Rendered(bitmap, shown, exposed, palette, nullptr);
}

QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed, const TRenderedRowStep &eachRow)
{
    return Rendered(bitmap, shown, exposed, bitmap.GetPalette(), eachRow ? &eachRow : nullptr);
}

void DrawPictureView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed)
{
    const QRect area = exposed & QRect(QPoint(0, 0), shown);
    const QImage view = RenderPictureView(bitmap, shown, area);
    if (!view.isNull()) painter.drawImage(area.topLeft(), view);
}

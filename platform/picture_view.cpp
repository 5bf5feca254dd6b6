// Drawing part of a bitmap scaled to a shown size.
#include "picture_view.h"

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

int SampleStep(const Span &span) { return std::max(1, span.count / MaxSamplesPerSide); }

} // namespace

QImage RenderPictureView(const TBitmap &bitmap, QSize shown, QRect exposed)
{
    const QRect area = exposed & QRect(QPoint(0, 0), shown);
    if (area.isEmpty() || bitmap.Empty()) return {};
    QImage image(area.size(), QImage::Format_RGB32);
    const std::vector<Span> columns = CoveredSpans(area.left(), area.right() + 1, shown.width(), bitmap.GetWidth());
    const std::vector<Span> rows = CoveredSpans(area.top(), area.bottom() + 1, shown.height(), bitmap.GetHeight());
    for (int j = 0; j < area.height(); ++j) {
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(j));
        const Span row = rows[static_cast<std::size_t>(j)];
        const int rowStep = SampleStep(row);
        for (int i = 0; i < area.width(); ++i) {
            const Span column = columns[static_cast<std::size_t>(i)];
            if (row.count == 1 && column.count == 1) {
                const TColor c = bitmap.GetPixel(column.first, row.first);
                out[i] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
                continue;
            }
            const int columnStep = SampleStep(column);
            int r = 0, g = 0, b = 0, n = 0;
            for (int y = row.first; y < row.first + row.count; y += rowStep)
                for (int x = column.first; x < column.first + column.count; x += columnStep) {
                    const TColor c = bitmap.GetPixel(x, y);
                    r += GetRValue(c);
                    g += GetGValue(c);
                    b += GetBValue(c);
                    ++n;
                }
            out[i] = qRgb((r + n / 2) / n, (g + n / 2) / n, (b + n / 2) / n);
        }
    }
    return image;
}

void DrawPictureView(QPainter &painter, const TBitmap &bitmap, QSize shown, QRect exposed)
{
    const QRect area = exposed & QRect(QPoint(0, 0), shown);
    const QImage view = RenderPictureView(bitmap, shown, area);
    if (!view.isNull()) painter.drawImage(area.topLeft(), view);
}

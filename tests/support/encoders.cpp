// The formats' own command-line encoders and decoders.
#include "support/encoders.h"

#include "platform/files/qt/qt_image_bridge.h"

#include <QBuffer>
#include <QImageWriter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

QByteArray PngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

std::unique_ptr<TBitmap> ReadByTool(const QString &program, const QByteArray &file, const QString &fileName, const QStringList &options)
{
    const QByteArray png = MadeBy(program, QStringList{QStringLiteral("IN")} + options + QStringList{QStringLiteral("OUT")}, file, fileName,
                                  QStringLiteral("read.png"));
    QImage image = QImage::fromData(png, "png");
    if (image.isNull()) return nullptr;
    // Qt's conversion of 16-bit samples rounds them to 8.
    if (image.depth() == 64) image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    auto bitmap = std::make_unique<TBitmap>();
    BitmapFromQImage(image, *bitmap);
    return bitmap;
}

int LargestDifference(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return -1;
    const auto alpha = [](const TBitmap &p, int x, int y) {
        return p.GetPixelFormat() == pf32bit && p.GetAlphaChannel() == TAlphaChannel::Used ? int(p.Row(y)[4 * x + 3]) : 255;
    };
    int largest = 0;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x) {
            const TColor ca = a.GetPixel(x, y), cb = b.GetPixel(x, y);
            largest = std::max({largest, std::abs(int(GetRValue(ca)) - int(GetRValue(cb))), std::abs(int(GetGValue(ca)) - int(GetGValue(cb))),
                                std::abs(int(GetBValue(ca)) - int(GetBValue(cb))), std::abs(alpha(a, x, y) - alpha(b, x, y))});
        }
    return largest;
}

QImage PhotoLike(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / std::max(width - 1, 1), v = double(y) / std::max(height - 1, 1);
            const int detail = ((x * 7 + y * 13) % 9) - 4;
            const auto level = [&](double value) { return std::clamp(int(value * 255) + detail, 0, 255); };
            image.setPixel(x, y, qRgba(level(u), level(v), level(0.5 + 0.4 * std::sin(6 * u + 3 * v)), format == QImage::Format_ARGB32 ? level(1 - 0.8 * u * v) : 255));
        }
    return image;
}

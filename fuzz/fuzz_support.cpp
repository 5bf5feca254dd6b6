// What the fuzz targets share: Qt without a window, and comparisons of bitmaps.
#include "fuzz_support.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Readers' warnings about damaged data would drown the fuzzer's own report.
void KeepSerious(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

void StartQtWithoutWindows()
{
    qInstallMessageHandler(KeepSerious);
    static int count = 1;
    static char name[] = "picture-fuzzer";
    static char *arguments[] = {name, nullptr};
    // Kept for the whole run: a reachable object, not a leak.
    static QCoreApplication *application = new QCoreApplication(count, arguments);
    (void)application;
}

void Require(bool condition, const char *promise)
{
    if (condition) return;
    std::fprintf(stderr, "Broken promise: %s\n", promise);
    std::abort();
}

namespace {

std::size_t PixelBits(const TBitmap &bitmap)
{
    return static_cast<std::size_t>(bitmap.GetWidth()) * static_cast<std::size_t>(BitsPerPixel(bitmap.GetPixelFormat()));
}

} // namespace

bool SamePixels(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPixelFormat() != b.GetPixelFormat()) return false;
    for (int i = 0; i < a.PaletteSize(); ++i)
        if (a.GetPalette()[static_cast<std::size_t>(i)] != b.GetPalette()[static_cast<std::size_t>(i)]) return false;
    const std::size_t bits = PixelBits(a);
    const int spareMask = 0xFF00 >> (bits % 8) & 0xFF;
    for (int y = 0; y < a.GetHeight(); ++y) {
        if (std::memcmp(a.Row(y), b.Row(y), bits / 8) != 0) return false;
        if (bits % 8 && (a.Row(y)[bits / 8] & spareMask) != (b.Row(y)[bits / 8] & spareMask)) return false;
    }
    return true;
}

bool SameColours(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (a.GetPixel(x, y) != b.GetPixel(x, y)) return false;
    return true;
}

bool SameAlpha(const TBitmap &a, const TBitmap &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
    const auto alpha = [](const TBitmap &bitmap, int x, int y) { return bitmap.GetPixelFormat() == pf32bit ? bitmap.Row(y)[4 * x + 3] : 255; };
    for (int y = 0; y < a.GetHeight(); ++y)
        for (int x = 0; x < a.GetWidth(); ++x)
            if (alpha(a, x, y) != alpha(b, x, y)) return false;
    return true;
}

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

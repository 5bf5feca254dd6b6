// Test entry for the programs without a window: a GUI application object
// (fonts, image plugins) on the offscreen platform, and no Qt Widgets.
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Saves in place record themselves in the user's cache folder: tests
    // keep theirs to themselves.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}

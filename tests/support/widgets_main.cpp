// Test entry: the application object exists before any test runs, and the
// tests run headless unless told otherwise.
#include "platform/controls/application.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's file dialog remembers its last folder in the user's settings:
    // tests keep theirs to themselves, so no test starts where another left.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    // Saves in place record themselves in the user's cache folder.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    Application->Initialize();
    const int result = RUN_ALL_TESTS();
    Application->Shutdown();
    return result;
}

// Test entry: the application object exists before any test runs, and the
// tests run headless unless told otherwise.
#include "platform/application.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();
    const int result = RUN_ALL_TESTS();
    Application->Shutdown();
    return result;
}

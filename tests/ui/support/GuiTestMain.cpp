// The entry of the tests with windows: the program's own application object, so that an error
// escaping a handler goes through the same notify as in the program. Windows run offscreen:
// ctest sets the platform, and listing the tests (which runs without that setting) needs it too.
#include <gmock/gmock.h>

#include "ProgramApplication.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ProgramApplication application(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

// Test entry for the start-up tests: the program's own application object (offscreen), so that
// an error escaping a handler goes through the same notify as in the program.
#include <gtest/gtest.h>

#include "ProgramApplication.h"

int main(int argc, char** argv) {
    // Listing the tests (ctest's discovery) runs without the test environment: stay offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

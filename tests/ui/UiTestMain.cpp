// One QApplication for every test of the program (offscreen platform set by ctest).
#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

// The waits that let the Qt event loop of the test process run.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "TestSupport.h"

namespace waga::test {

void RunEvents(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

bool RunEventsUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        RunEvents(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace waga::test

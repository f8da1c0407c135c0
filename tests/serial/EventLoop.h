#pragma once
// Runs the Qt event loop of the test process for a while or until a condition holds.

#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

inline void RunEventLoop(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

inline bool RunEventLoopUntil(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        RunEventLoop(std::chrono::milliseconds(5));
    }
    return true;
}

// Counts the timer events an object receives: the component's polling ticks.
class TickCounter : public QObject {
  public:
    explicit TickCounter(QObject* watched) { watched->installEventFilter(this); }
    int Ticks() const { return ticks_; }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) ++ticks_;
        return false;
    }

  private:
    int ticks_ = 0;
};

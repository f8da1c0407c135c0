#include "FramePacer.h"

FramePacer::FramePacer(QObject* owner, std::function<void()> draw) : draw_(std::move(draw)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, owner, [this] {
        last_.start();
        draw_();
    });
}

void FramePacer::Request() {
    if (timer_.isActive()) return;
    const qint64 since = last_.isValid() ? last_.elapsed() : kFrameMs;
    if (since >= kFrameMs) {
        last_.start();
        draw_();
        return;
    }
    timer_.start(static_cast<int>(kFrameMs - since));
}

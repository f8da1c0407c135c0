#pragma once
// The core's event loop (IEventLoop) on Qt's: a posted task runs from the loop once the event at
// work is done, and not at all once `context` has gone.

#include <QObject>
#include <functional>

#include "EventLoop.h"

class QtEventLoop final : public IEventLoop {
  public:
    explicit QtEventLoop(QObject& context) : context_(context) {}
    void Post(std::function<void()> task) override {
        QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
    }

  private:
    QObject& context_;
};

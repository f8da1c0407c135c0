#pragma once
// Counts the timer events an object receives: the component's polling ticks.

#include <QEvent>
#include <QObject>

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

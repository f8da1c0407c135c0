#pragma once
// Drawing paced to the screen's rate: nobody sees more than about 60 pictures a second.

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// Runs a piece of drawing at most once a frame (16 ms): at once when the last run is a frame
// ago, otherwise once when the frame is over, however often it was asked for meanwhile.
class FramePacer {
  public:
    static constexpr int kFrameMs = 16;

    FramePacer(QObject* owner, std::function<void()> draw);
    void Request();
    // The drawing ran now (asked for directly): the next request waits for the frame's end.
    void Ran() { last_.start(); }
    bool Pending() const { return timer_.isActive(); }

  private:
    std::function<void()> draw_;
    QTimer timer_;
    QElapsedTimer last_;
};

#include "ReadPacing.h"

// A window opens with the first read after the previous one closed and lasts one polling delay.
// A full buffer means more is already waiting: it is read as soon as the event loop has had its
// turn, whatever the window holds.
int ReadPacing::AfterRead(std::size_t count, bool bufferFull, Clock::time_point now,
                          int pollingDelayMs) {
    const auto delay = std::chrono::milliseconds(pollingDelayMs);
    if (windowBytes_ == 0 || now - windowStart_ >= delay) {
        windowStart_ = now;
        windowBytes_ = 0;
    }
    windowBytes_ += count;
    if (bufferFull) return 0;
    if (windowBytes_ < kBusyBytes) return 0;
    windowBytes_ = 0;  // the rest closes the window; the read after it opens the next one
    return pollingDelayMs;
}

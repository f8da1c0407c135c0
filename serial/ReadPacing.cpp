#include "ReadPacing.h"

#include <cmath>

// A full buffer means more is already waiting: it is read as soon as the event loop has had its
// turn, whatever came before.
int ReadPacing::AfterRead(std::size_t count, bool bufferFull, Clock::time_point now,
                          int pollingDelayMs) {
    const double elapsed = std::chrono::duration<double>(now - lastRead_).count();
    const double kept = recentBytes_ > 0 && elapsed >= 0 ? std::exp(-elapsed / kMemorySeconds) : 0;
    recentBytes_ = recentBytes_ * kept + static_cast<double>(count);
    lastRead_ = now;
    if (bufferFull || recentBytes_ < kBusyBytes) return 0;
    return pollingDelayMs;
}

#pragma once
// ReadPacing: when to read a watched port again after a read. While traffic is light every
// arrival is read at once, so a line that comes just before the port is lost (a hang-up or a
// pulled adapter discards what is still unread) has already been taken. Once the bytes read
// within one polling delay reach a busy level, the port is left alone for the polling delay
// after each read, so a fast stream is taken in batches and costs one wake-up per delay.

#include <chrono>
#include <cstddef>

class ReadPacing {
  public:
    using Clock = std::chrono::steady_clock;

    // Bytes within one polling delay from which traffic counts as busy: far above what a
    // scale at 9600 bit/s sends in 50 ms (48 bytes), far below what 115200 bit/s brings (576).
    static constexpr std::size_t kBusyBytes = 256;

    // After a read of `count` bytes at `now` (`bufferFull` when it filled the buffer): the
    // milliseconds to leave the port alone, 0 for at once.
    int AfterRead(std::size_t count, bool bufferFull, Clock::time_point now, int pollingDelayMs);
    // Forgets earlier reads (a port opened again starts light).
    void Reset() {
        windowBytes_ = 0;
        windowStart_ = {};
    }

  private:
    std::size_t windowBytes_ = 0;
    Clock::time_point windowStart_{};
};

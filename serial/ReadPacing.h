#pragma once
// ReadPacing: when to read a watched port again after a read. While traffic is light every
// arrival is read at once, so a line that comes just before the port is lost (a hang-up or a
// pulled adapter discards what is still unread) has already been taken. Once the bytes of about
// the last second reach a busy level, the port is left alone for the polling delay after each
// read, so a fast stream is taken in batches and costs one wake-up per delay, its pauses
// included (a scale's report comes in bursts).

#include <chrono>
#include <cstddef>

class ReadPacing {
  public:
    using Clock = std::chrono::steady_clock;

    // Bytes in about the last second from which traffic counts as busy: above anything a scale
    // at 9600 bit/s can send (960 bytes a second), far below a stream at 115200 bit/s (11,520).
    static constexpr double kBusyBytes = 2048;
    // How long read bytes are remembered: each one counts less as time passes, and after this
    // long it counts about a third.
    static constexpr double kMemorySeconds = 1.0;

    // After a read of `count` bytes at `now` (`bufferFull` when it filled the buffer): the
    // milliseconds to leave the port alone, 0 for at once.
    int AfterRead(std::size_t count, bool bufferFull, Clock::time_point now, int pollingDelayMs);
    // Forgets earlier reads (a port opened again starts light).
    void Reset() { recentBytes_ = 0; }

  private:
    double recentBytes_ = 0;  // the bytes read, each weighed by how long ago it came
    Clock::time_point lastRead_{};
};

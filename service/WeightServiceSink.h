#pragma once
// The weight service's sink. It runs on the window's thread and follows the journal's sink, which
// numbers every line (with the journal off, the same rule without storage): each line becomes a
// compact ServiceEvent with the row the journal gave it, and goes to the server's thread through
// a bounded queue. It never waits: when the queue is full the event is counted as dropped (the
// journal still has the line, and /api/v1/lines serves it).

#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "JournalRows.h"
#include "LinePipeline.h"
#include "ServiceEvent.h"

// The hand-over between the window's thread and the server's thread.
class ServiceFeed {
  public:
    explicit ServiceFeed(std::size_t capacity = 100000, std::size_t capacityBytes = 64 << 20)
        : capacity_(capacity), capacityBytes_(capacityBytes) {}
    // False when full (by count or by bytes; the event is counted as dropped). `wasEmpty` tells
    // the caller to wake the server's thread: one wake-up per batch, not per line.
    bool Push(ServiceEvent event, bool& wasEmpty);
    std::vector<ServiceEvent> TakeAll();
    std::uint64_t Dropped() const { return dropped_.load(); }

  private:
    const std::size_t capacity_;
    const std::size_t capacityBytes_;
    std::size_t bytes_ = 0;
    std::mutex mutex_;
    std::vector<ServiceEvent> events_;
    std::atomic<std::uint64_t> dropped_{0};
};

// The last reading as received, made into an event only when one is handed: with the service
// off (as installed) the sink keeps this, nothing more.
struct HeldReading {
    std::string shown;
    std::string unit;
    std::optional<double> value;
    PortNumber port = pnCOM1;
    std::int64_t timeMs = 0;
    std::int64_t seq = 0;
    std::int64_t count = 1;
    bool grows = false;
};

class WeightServiceSink final : public INumberedLineSink {
  public:
    // Starts handing events to a running server: the last reading and the port state first.
    void Connect(std::shared_ptr<ServiceFeed> feed, std::function<void()> wake);
    void Disconnect();

    void OnNumberedLine(const LineEvent& event, std::int64_t seq, bool grew) override;
    void OnNumberedPortState(const PortStateEvent& event, std::int64_t seq) override;

  private:
    ServiceEvent ReadingEvent(const HeldReading& reading);
    const QString& UnitText(std::string_view unit);
    void Hand(const ServiceEvent& event);

    std::shared_ptr<ServiceFeed> feed_;
    std::function<void()> wake_;
    std::optional<HeldReading> lastReading_;
    std::string unitBytes_;  // the unit caption last made into unitText_
    QString unitText_;
    std::optional<ServiceEvent> lastStatus_;
};

#pragma once
// The weight service's line sink. It runs on the window's thread, subscribed after the journal:
// each line becomes a compact ServiceEvent numbered with the journal's seq, and goes to the
// server's thread through a bounded queue. It never waits: when the queue is full the event is
// counted as dropped (the journal still has the line, and /api/v1/lines serves it).

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
// off (as installed) the sink keeps its place in the runs and this, nothing more.
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

class WeightServiceSink final : public ILineSink {
  public:
    using SeqSource = std::function<std::int64_t()>;
    // `seqSource` gives the journal's seq of the row the current line went into
    // (JournalSink::LastSeq); without one, or while it gives 0 (the journal is off), the sink
    // numbers the lines itself. Either way the journal's rule of runs (JournalRuns) says which
    // lines share a row.
    explicit WeightServiceSink(SeqSource seqSource = {});

    // Starts handing events to a running server: the last reading and the port state first.
    void Connect(std::shared_ptr<ServiceFeed> feed, std::function<void()> wake);
    void Disconnect();

    void OnLine(const LineEvent& event) override;
    void OnPortState(const PortStateEvent& event) override;

  private:
    ServiceEvent ReadingEvent(const HeldReading& reading);
    const QString& UnitText(std::string_view unit);
    void Hand(const ServiceEvent& event);

    SeqSource seqSource_;
    JournalRuns runs_;  // the sink's own numbers, used while the journal gives none
    std::shared_ptr<ServiceFeed> feed_;
    std::function<void()> wake_;
    std::optional<HeldReading> lastReading_;
    std::string unitBytes_;  // the unit caption last made into unitText_
    QString unitText_;
    std::optional<ServiceEvent> lastStatus_;
};

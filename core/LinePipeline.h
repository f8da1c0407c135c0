#pragma once
// The line pipeline: the one seam between the received byte stream and everything that consumes
// lines. It cuts the stream into lines (LineAssembler), classifies each line once, and hands it
// to its subscribed sinks in the order they subscribed. The read-out, the report view and the
// recording file are sinks; so is the journal's, which numbers the lines for the weight service.
//
// Order. Every event (a line, a chunk's end, a reset, a port state) goes to the sinks in
// subscription order, and each sink hears every event once, in the order the events happened. A
// sink returns at once: it never opens a box or runs an event loop itself (it posts the box,
// IEventLoop), so the pipeline is not fed while a sink is at work. Should a sink still cause an
// event (feed bytes, reset, announce), that event waits until every sink has heard the one at
// work.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "LineAssembler.h"
#include "PortTypes.h"
#include "Win1250.h"

enum class LineKind : std::uint8_t { Reading, Report };

// What the classification step makes of one received line.
struct LineClass {
    LineKind kind = LineKind::Report;
    // For a reading: the read-out's text (spaces removed, commas shown as dots). Empty otherwise.
    Win1250Text readingText;
    // For a reading whose text is a decimal number (the number test with ','): its value.
    std::optional<double> value;
};

// Classifies one line (without its line end) with the number test and the decimal separator.
LineClass ClassifyLine(const Win1250Text& line, char decimalSeparator = ',');

// One received line with everything its consumers need.
struct LineEvent {
    const Win1250Text& line;  // the bytes as received, without CR (LF bytes are dropped)
    const LineClass& cls;
    const Win1250Text& unit;     // the unit caption (Ljednost) when the line arrived
    std::int64_t receivedUtcMs;  // arrival of the chunk at work when the line was completed, UTC ms
    PortNumber port;
};

enum class PortState : std::uint8_t { Opened, Lost, Closed };

struct PortStateEvent {
    PortNumber port;
    PortState state;
    std::int64_t timeUtcMs;
};

// A consumer of received lines. Calls arrive on the thread that feeds the pipeline (the window's
// thread); a sink must never block it: work that waits on a disk or a network is queued to a
// thread of the sink's own.
class ILineSink {
  public:
    virtual ~ILineSink() = default;
    // A line arrived.
    virtual void OnLine(const LineEvent& event) = 0;
    // A received chunk has been worked through (every line of it has been handed over).
    virtual void OnChunkEnd() {}
    // The stream starts afresh (the port was lost or reopened): a partial line was dropped.
    virtual void OnReset() {}
    // The port was opened, lost or closed.
    virtual void OnPortState(const PortStateEvent& /*event*/) {}
};

// Milliseconds since 1970-01-01 UTC from the system clock.
std::int64_t UtcNowMs();

class LinePipeline {
  public:
    using Clock = std::function<std::int64_t()>;

    explicit LinePipeline(Clock clock = UtcNowMs);
    LinePipeline(const LinePipeline&) = delete;
    LinePipeline& operator=(const LinePipeline&) = delete;

    // Sinks are called in the order they subscribed. A sink is subscribed once and must outlive
    // the pipeline's use (the composition root owns both).
    void Subscribe(ILineSink* sink);
    void Unsubscribe(ILineSink* sink);

    // Takes one received chunk: every completed line goes to every sink, then OnChunkEnd.
    void Receive(const char* data, std::int32_t size);
    // Drops the pending partial line and tells the sinks (port lost or reopened).
    void Reset();
    // Tells the sinks about the port.
    void AnnouncePortState(PortState state);

    // The context stamped on each line.
    void SetPort(PortNumber port) { port_ = port; }
    PortNumber Port() const { return port_; }
    void SetUnit(const Win1250Text& unit) { unit_ = unit; }
    const Win1250Text& Unit() const { return unit_; }

    const std::string& PendingLine() const { return assembler_.PendingLine(); }

  private:
    // One event as kept while it is handed out.
    struct Held {
        enum class What : std::uint8_t { Line, ChunkEnd, Reset, Port };
        explicit Held(What kind) : what(kind) {}
        What what;
        Win1250Text line;
        LineClass cls;
        Win1250Text unit;
        std::int64_t timeMs = 0;
        PortNumber port = pnCOM2;
        PortState state = PortState::Opened;
    };

    void Dispatch(const Win1250Text& line);
    // Hands `event` to every sink, then any event a sink caused meanwhile.
    void Post(Held event);
    void DeliverToAll(const Held& event);

    Clock clock_;
    LineAssembler assembler_;
    std::vector<ILineSink*> sinks_;  // null once unsubscribed while an event was handed out
    std::deque<Held> waiting_;       // events caused by a sink at work
    bool delivering_ = false;
    PortNumber port_ = pnCOM2;
    Win1250Text unit_;
    std::int64_t chunkTimeMs_ = 0;
};

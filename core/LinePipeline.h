#pragma once
// The line pipeline: the one seam between the received byte stream and everything that consumes
// lines. It cuts the stream into lines (LineAssembler), classifies each line once, and hands it
// to its subscribed sinks in the order they subscribed. The read-out, the report view and the
// recording file are sinks; so are the journal, the weight service and the central uploader.
//
// Order and re-entry. Every event (a line, a chunk's end, a reset, a port state) goes to the sinks
// in subscription order, and each sink hears every event once, in the order the events happened.
// A sink may run a nested event loop (a modal error box); bytes received meanwhile go through
// Receive again: the assembler has already taken the current line out of PendingLine and copied
// the chunk, so nothing is lost or doubled. The nested events reach at once every sink that has
// already heard the event in progress (the box's own sink included, re-entered as before); a sink
// after it first hears the event in progress, then the nested ones, so no sink ever sees lines
// out of order. OnChunkEnd follows every Receive, nested or not; ChunkDepth tells a sink whether
// an outer chunk is still at work.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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

    // Received chunks being worked through (above 1 while a sink's box lets another one in).
    int ChunkDepth() const { return chunkDepth_; }
    const std::string& PendingLine() const { return assembler_.PendingLine(); }

  private:
    // One event as kept until every sink has heard it.
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
    struct Subscriber {
        ILineSink* sink;      // null once unsubscribed while events were being handed out
        std::uint64_t heard;  // number of the last event it heard
    };

    void Dispatch(const Win1250Text& line);
    void Post(Held event);
    // Hands every sink the events it has not heard yet, in order.
    void Pump();
    static void Deliver(ILineSink& sink, const Held& event);

    Clock clock_;
    LineAssembler assembler_;
    std::vector<Subscriber> sinks_;
    // Events not yet heard by every sink; a sink at work on one (under a box) holds it too.
    std::deque<std::shared_ptr<const Held>> events_;
    std::uint64_t firstEvent_ = 1;  // number of events_.front()
    std::uint64_t lastEvent_ = 0;   // number of the newest event
    int pumping_ = 0;
    PortNumber port_ = pnCOM2;
    Win1250Text unit_;
    std::int64_t chunkTimeMs_ = 0;
    int chunkDepth_ = 0;
};

#pragma once
// The line pipeline: the one seam between the received byte stream and everything that consumes
// lines. It cuts the stream into lines (LineAssembler), classifies each line once, and hands it
// to its subscribed sinks in the order they subscribed. The read-out, the report view and the
// recording file are sinks; so are the journal, the weight service and the central uploader.
//
// Order and re-entry. For every line the sinks are called in subscription order, each with the
// same event. A sink may run a nested event loop (a modal error box); bytes received meanwhile go
// through Receive again: the assembler has already taken the current line out of PendingLine and
// copied the chunk, so nothing is lost or doubled, and lines keep their order. OnChunkEnd follows
// every Receive, nested or not; ChunkDepth tells a sink whether an outer chunk is still at work.

#include <cstdint>
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
    std::int64_t receivedUtcMs;  // arrival of the chunk that completed the line, UTC, ms
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
    void Dispatch(const Win1250Text& line);

    Clock clock_;
    LineAssembler assembler_;
    std::vector<ILineSink*> sinks_;
    PortNumber port_ = pnCOM2;
    Win1250Text unit_;
    std::int64_t chunkTimeMs_ = 0;
    int chunkDepth_ = 0;
};

#pragma once
// The journal's rows and its run-length rule. Every received line becomes a row of
// dziennik.sqlite, except that consecutive identical readings (same bytes, unit and port, nothing
// between them) share one row whose count and last time grow. Only the newest row can grow; a
// report line, a different reading, a port loss or close and a program stop end the run.
// Sequence numbers are handed out here, on the thread that receives the lines, from the first
// number of the run (SeqMark.h); the journal's writer stores the rows under them (moved up as a
// whole only when the file, unreadable at the start, turns out to hold higher ones).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LinePipeline.h"

enum class JournalKind : std::uint8_t { Reading, Report, Gap };

// The text stored in the kind column ('reading', 'report', 'gap'), and back; nullopt for any
// other text found in a file.
std::string_view JournalKindName(JournalKind kind);
std::optional<JournalKind> JournalKindFromName(std::string_view name);

// The numbers a row may have: 1 to 2^62. Every sum the numbering makes (a run's rows, the mark a
// block ahead, a run moved above a file's rows) stays far from the 64-bit limit; a number outside
// this range, in a file or in the mark, is refused, never counted on. The UTC clock in
// microseconds, the least first number of a run, reaches 2^62 in the year 148 000.
inline constexpr std::int64_t kMaxSeq = std::int64_t{1} << 62;
constexpr bool SeqInRange(std::int64_t seq) { return seq >= 1 && seq <= kMaxSeq; }
// "numer <seq> spoza zakresu 1–<kMaxSeq>" (UTF-8).
std::string SeqRangeProblem(std::int64_t seq);

// One row of the lines table. Texts are UTF-8; raw holds the received bytes exactly.
struct JournalRow {
    std::int64_t seq = 0;
    JournalKind kind = JournalKind::Report;
    std::int64_t firstMs = 0;
    std::int64_t lastMs = 0;
    std::int64_t count = 1;
    std::string text;
    std::string raw;
    std::optional<double> value;
    std::string unit;
    std::string port;
    bool operator==(const JournalRow&) const = default;
};

// What the writer does for one line: store a new row, or raise count and last_ms of the row
// `row.seq`. A grow carries the whole row too, so that storing it again, or storing it where its
// first line never arrived (a file replaced meanwhile), still gives the right row.
struct JournalOp {
    enum class Type : std::uint8_t { Insert, Grow };
    Type type = Type::Insert;
    JournalRow row;
};

// Windows-1250 bytes as UTF-8, the whole line: byte 0 becomes the visible U+2400.
std::string Win1250ToUtf8(std::string_view bytes);

// The run-length rule with the sequence numbers.
class JournalRuns {
  public:
    explicit JournalRuns(std::int64_t nextSeq = 1) : nextSeq_(nextSeq) {}

    // Where one received line goes: a further line of the open run of identical readings, or a
    // new row; and that row's seq. Line is this plus the row itself.
    struct Place {
        bool grows = false;
        std::int64_t seq = 0;
    };
    Place PlaceLine(const LineEvent& event);
    // The row operation for one received line.
    JournalOp Line(const LineEvent& event);
    // A gap row: `skipped` lines between firstMs and lastMs were not stored, for `reason`.
    // The open run is the caller's to end.
    JournalOp Gap(std::int64_t skipped, std::int64_t firstMs, std::int64_t lastMs,
                  std::string reason);
    // The run of identical readings ends (report, port lost or closed, program stop, a row
    // that could not be queued).
    void EndRun() { open_.reset(); }

    // The seq of the row the last line went into (0 before the first line).
    std::int64_t LastSeq() const { return lastSeq_; }
    std::int64_t NextSeq() const { return nextSeq_; }
    // Sequence numbers from here on are at least `floor` (a replaced file starts afresh).
    void RaiseNextSeq(std::int64_t floor) {
        if (floor > nextSeq_) nextSeq_ = floor;
    }

  private:
    struct OpenRun {
        JournalRow row;  // whole when Line made it; PlaceLine keeps only what a run compares
        std::string unitRaw;
        PortNumber port;
    };
    std::int64_t nextSeq_;
    std::int64_t lastSeq_ = 0;
    std::optional<OpenRun> open_;
};

// What follows the journal's sink (the weight service's sink): each line with the row the sink
// gave it, so the journal and everything after it number lines once, by one rule of runs.
class INumberedLineSink {
  public:
    virtual ~INumberedLineSink() = default;
    // `seq`: the row the line went into; `grew`: it went into the open run's row (its count grew).
    virtual void OnNumberedLine(const LineEvent& event, std::int64_t seq, bool grew) = 0;
    // The port was opened, lost or closed; `seq`: the row of the last line (or the seq before the
    // first one).
    virtual void OnNumberedPortState(const PortStateEvent& event, std::int64_t seq) = 0;
};

// A chunk's row operations with grows of the same row folded into one.
void AppendOp(std::vector<JournalOp>& batch, JournalOp op);
// Bytes a queued operation holds, for the queue's bound.
std::size_t OpBytes(const JournalOp& op);

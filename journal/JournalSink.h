#pragma once
// The journal's sink of the line pipeline, the one place that numbers lines. On the window's
// thread it applies the run-length rule, hands out sequence numbers and gathers each received
// chunk's row operations; at the chunk's end it queues them to the writer. It never waits: when
// the queue is at its bound the chunk's lines are counted instead and a gap row saying how many
// were skipped, and why, goes in ahead of the next chunk that fits (or, at the end, past the
// bound). Each line, with its row, then goes on to the sink that follows it (the weight
// service's). Without a writer (the journal is off) it numbers by the same rule and stores
// nothing.

#include <QObject>
#include <memory>
#include <vector>

#include "JournalRows.h"
#include "JournalWriter.h"
#include "LinePipeline.h"

namespace waga::journal {

class JournalSink : public ILineSink {
  public:
    // `writer` must outlive the sink; `firstSeq` is what JournalWriter::Start returned.
    JournalSink(JournalWriter& writer, std::int64_t firstSeq);
    // Numbers without storing, from `firstSeq`: by default the current time in microseconds, as
    // for a replaced journal file, so a number never repeats across program starts.
    explicit JournalSink(std::int64_t firstSeq = UtcNowMs() * 1000 + 1);
    // Queues what the last chunk left, and the gap row of lines skipped and not yet told.
    ~JournalSink() override;
    JournalSink(const JournalSink&) = delete;
    JournalSink& operator=(const JournalSink&) = delete;

    void OnLine(const LineEvent& event) override;
    void OnChunkEnd() override;
    void OnReset() override;
    void OnPortState(const PortStateEvent& event) override;

    // Who hears each line with its row next (the composition root sets it; null: nobody).
    void SetNumberedSink(INumberedLineSink* next) { next_ = next; }

  private:
    void Flush();

    JournalWriter* writer_;  // null: numbering alone
    INumberedLineSink* next_ = nullptr;
    JournalRuns runs_;
    std::vector<JournalOp> batch_;
    std::int64_t batchLines_ = 0;
    std::int64_t batchFirstMs_ = 0;
    std::int64_t batchLastMs_ = 0;
    std::int64_t skipped_ = 0;
    std::int64_t skippedFirstMs_ = 0;
    std::int64_t skippedLastMs_ = 0;
};

// The gap row's reason.
inline constexpr char kQueueFullReason[] =
    "Pominięte wiersze: kolejka zapisu dziennika była pełna (dysk nie nadążał)";

}  // namespace waga::journal

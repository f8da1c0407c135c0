#include "JournalSink.h"

#include <algorithm>

namespace waga::journal {

JournalSink::JournalSink(JournalWriter& writer, std::int64_t firstSeq)
    : writer_(&writer), runs_(firstSeq) {}

JournalSink::JournalSink(std::int64_t firstSeq) : writer_(nullptr), runs_(firstSeq) {}

JournalSink::~JournalSink() {
    Flush();
    if (skipped_ > 0) {
        writer_->Push({runs_.Gap(skipped_, skippedFirstMs_, skippedLastMs_, kQueueFullReason)},
                      true);
    }
}

void JournalSink::OnLine(const LineEvent& event) {
    if (writer_ == nullptr) {
        const JournalRuns::Place place = runs_.PlaceLine(event);
        if (next_ != nullptr) next_->OnNumberedLine(event, place.seq, place.grows);
        return;
    }
    if (batchLines_ == 0) {
        batchFirstMs_ = event.receivedUtcMs;
        // Lines skipped before are told ahead of this chunk's rows, in number and in time.
        if (skipped_ > 0) {
            batch_.push_back(
                runs_.Gap(skipped_, skippedFirstMs_, skippedLastMs_, kQueueFullReason));
        }
    }
    batchLastMs_ = event.receivedUtcMs;
    ++batchLines_;
    JournalOp op = runs_.Line(event);
    const std::int64_t seq = op.row.seq;
    const bool grew = op.type == JournalOp::Type::Grow;
    AppendOp(batch_, std::move(op));
    if (next_ != nullptr) next_->OnNumberedLine(event, seq, grew);
}

void JournalSink::OnChunkEnd() { Flush(); }

void JournalSink::OnReset() {
    Flush();
    runs_.EndRun();
}

void JournalSink::OnPortState(const PortStateEvent& event) {
    if (event.state != PortState::Opened) {
        Flush();
        runs_.EndRun();
    }
    if (next_ != nullptr) {
        const std::int64_t seq = runs_.LastSeq() > 0 ? runs_.LastSeq() : runs_.NextSeq() - 1;
        next_->OnNumberedPortState(event, seq);
    }
}

void JournalSink::Flush() {
    if (batch_.empty()) return;
    std::vector<JournalOp> batch;
    batch.swap(batch_);
    // The next chunk is likely as long as this one: its rows go in without growing the batch.
    batch_.reserve(batch.size());
    if (writer_->Push(std::move(batch))) {
        skipped_ = 0;
    } else {
        if (skipped_ == 0) skippedFirstMs_ = batchFirstMs_;
        skippedLastMs_ = batchLastMs_;
        skipped_ += batchLines_;
        // The rows of this chunk are not stored: the next line starts a row of its own.
        runs_.EndRun();
    }
    batchLines_ = 0;
}

}  // namespace waga::journal

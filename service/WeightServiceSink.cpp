#include "WeightServiceSink.h"

#include "Win1250.h"

namespace {

QString FromWin1250(std::string_view bytes) {
    const std::u16string text = DecodeWin1250(bytes);
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString WithoutSpaces(QString text) {
    text.remove(QLatin1Char(' '));
    return text;
}

}  // namespace

bool ServiceFeed::Push(ServiceEvent event, bool& wasEmpty) {
    const std::size_t size =
        128 + 2 * static_cast<std::size_t>(event.text.size() + event.reading.size());
    std::lock_guard lock(mutex_);
    wasEmpty = events_.empty();
    if (events_.size() >= capacity_ || (!events_.empty() && bytes_ + size > capacityBytes_)) {
        ++dropped_;
        return false;
    }
    bytes_ += size;
    events_.push_back(std::move(event));
    return true;
}

std::vector<ServiceEvent> ServiceFeed::TakeAll() {
    std::vector<ServiceEvent> taken;
    std::lock_guard lock(mutex_);
    taken.swap(events_);
    bytes_ = 0;
    return taken;
}

// Without a journal the numbers start at the current time in microseconds, as a replaced
// journal file does, so an event id never repeats across program starts.
WeightServiceSink::WeightServiceSink(SeqSource seqSource)
    : seqSource_(std::move(seqSource)), runs_(UtcNowMs() * 1000 + 1) {}

void WeightServiceSink::Connect(std::shared_ptr<ServiceFeed> feed, std::function<void()> wake) {
    feed_ = std::move(feed);
    wake_ = std::move(wake);
    if (lastStatus_) Hand(*lastStatus_);
    if (lastReading_) Hand(*lastReading_);
}

void WeightServiceSink::Disconnect() {
    feed_.reset();
    wake_ = nullptr;
}

void WeightServiceSink::OnLine(const LineEvent& event) {
    const JournalOp op = runs_.Line(event);
    ServiceEvent out;
    const bool reading = event.cls.kind == LineKind::Reading;
    out.kind = reading ? ServiceEvent::Kind::Reading : ServiceEvent::Kind::Report;
    out.text = FromWin1250(event.line.Shown());
    if (reading) out.reading = WithoutSpaces(out.text);
    out.value = event.cls.value;
    out.unit = FromWin1250(event.unit.Shown());
    out.port = QString::fromStdString(PortName(event.port));
    out.timeMs = event.receivedUtcMs;
    out.connected = true;
    const std::int64_t journalSeq = seqSource_ ? seqSource_() : 0;
    out.seq = journalSeq > 0 ? journalSeq : op.row.seq;
    // A run of identical readings is one row: its count grows with each line. The journal may
    // still have started a row of its own (it ends a run when its queue is full).
    out.grows = op.type == JournalOp::Type::Grow && lastReading_ && lastReading_->seq == out.seq;
    out.count = out.grows ? lastReading_->count + 1 : 1;
    if (reading) lastReading_ = out;
    if (feed_) Hand(out);
}

void WeightServiceSink::OnPortState(const PortStateEvent& event) {
    runs_.EndRun();  // a loss or close ends a run of identical readings
    ServiceEvent out;
    out.kind = ServiceEvent::Kind::Status;
    const std::int64_t journalSeq = seqSource_ ? seqSource_() : 0;
    out.seq = journalSeq > 0 ? journalSeq : runs_.NextSeq() - 1;
    out.port = QString::fromStdString(PortName(event.port));
    out.connected = event.state == PortState::Opened;
    out.timeMs = event.timeUtcMs;
    out.count = 0;
    lastStatus_ = out;
    if (feed_) Hand(out);
}

void WeightServiceSink::Hand(const ServiceEvent& event) {
    bool wasEmpty = false;
    feed_->Push(event, wasEmpty);
    if (wasEmpty && wake_) wake_();
}

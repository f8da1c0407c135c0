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
    : seqSource_(std::move(seqSource)), ownSeq_(UtcNowMs() * 1000) {}

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

std::int64_t WeightServiceSink::NextSeq(const ServiceEvent& event) {
    if (seqSource_) {
        const std::int64_t seq = seqSource_();
        if (seq > 0) return seq;  // 0: the journal is off
    }
    // Without a journal: the same rule of runs, so identical readings share one number.
    QByteArray key = event.raw;
    key += '\0' + event.unit.toUtf8() + '\0' + event.port.toLatin1();
    if (event.kind != ServiceEvent::Kind::Reading || key != lastRaw_) ++ownSeq_;
    lastRaw_ = event.kind == ServiceEvent::Kind::Reading ? key : QByteArray();
    return ownSeq_;
}

void WeightServiceSink::OnLine(const LineEvent& event) {
    ServiceEvent out;
    const bool reading = event.cls.kind == LineKind::Reading;
    out.kind = reading ? ServiceEvent::Kind::Reading : ServiceEvent::Kind::Report;
    out.raw = QByteArray::fromStdString(event.line.Bytes());
    out.text = FromWin1250(event.line.Shown());
    if (reading) out.reading = WithoutSpaces(out.text);
    out.value = event.cls.value;
    out.unit = FromWin1250(event.unit.Shown());
    out.port = QString::fromStdString(PortName(event.port));
    out.timeMs = event.receivedUtcMs;
    out.connected = true;
    out.seq = NextSeq(out);
    out.raw.clear();  // only needed to number runs; the server never sends it
    // A run of identical readings is one journal row: its count grows with each line.
    if (reading && lastReading_ && lastReading_->seq == out.seq)
        out.count = lastReading_->count + 1;
    if (reading) lastReading_ = out;
    if (feed_) Hand(out);
}

void WeightServiceSink::OnPortState(const PortStateEvent& event) {
    ServiceEvent out;
    out.kind = ServiceEvent::Kind::Status;
    const std::int64_t journalSeq = seqSource_ ? seqSource_() : 0;
    out.seq = journalSeq > 0 ? journalSeq : ownSeq_;
    out.port = QString::fromStdString(PortName(event.port));
    out.connected = event.state == PortState::Opened;
    out.timeMs = event.timeUtcMs;
    out.count = 0;
    lastRaw_.clear();  // a loss or close ends a run of identical readings
    lastStatus_ = out;
    if (feed_) Hand(out);
}

void WeightServiceSink::Hand(const ServiceEvent& event) {
    bool wasEmpty = false;
    feed_->Push(event, wasEmpty);
    if (wasEmpty && wake_) wake_();
}

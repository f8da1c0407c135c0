#include "WeightServiceSink.h"

#include "Win1250.h"

namespace {

QString FromWin1250(std::string_view bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes)
        *out++ = QChar(Win1250ToVisible(static_cast<unsigned char>(byte)));
    return text;
}

QString PortText(PortNumber port) {
    static const QString names[] = {QStringLiteral("COM1"), QStringLiteral("COM2"),
                                    QStringLiteral("COM3"), QStringLiteral("COM4")};
    const auto index = static_cast<std::size_t>(port);
    return index < std::size(names) ? names[index] : QString::fromStdString(PortName(port));
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

void WeightServiceSink::Connect(std::shared_ptr<ServiceFeed> feed, std::function<void()> wake) {
    feed_ = std::move(feed);
    wake_ = std::move(wake);
    if (lastStatus_) Hand(*lastStatus_);
    if (lastReading_) Hand(ReadingEvent(*lastReading_));
}

void WeightServiceSink::Disconnect() {
    feed_.reset();
    wake_ = nullptr;
}

void WeightServiceSink::OnNumberedLine(const LineEvent& event, std::int64_t seq, bool grew) {
    if (event.cls.kind == LineKind::Reading) {
        // A run of identical readings is one row: its count grows with each line.
        const bool grows = grew && lastReading_ && lastReading_->seq == seq;
        HeldReading& held = lastReading_ ? *lastReading_ : lastReading_.emplace();
        held.count = grows ? held.count + 1 : 1;
        held.grows = grows;
        held.seq = seq;
        held.shown.assign(event.line.Bytes());
        held.unit.assign(event.unit.Shown());
        held.value = event.cls.value;
        held.port = event.port;
        held.timeMs = event.receivedUtcMs;
        if (feed_) Hand(ReadingEvent(held));
        return;
    }
    if (!feed_) return;
    ServiceEvent out;
    out.kind = ServiceEvent::Kind::Report;
    out.text = FromWin1250(event.line.Bytes());
    out.value = event.cls.value;
    out.unit = UnitText(event.unit.Shown());
    out.port = PortText(event.port);
    out.timeMs = event.receivedUtcMs;
    out.connected = true;
    out.seq = seq;
    Hand(out);
}

ServiceEvent WeightServiceSink::ReadingEvent(const HeldReading& reading) {
    ServiceEvent out;
    out.kind = ServiceEvent::Kind::Reading;
    out.text = FromWin1250(reading.shown);
    out.reading = WithoutSpaces(out.text);
    out.value = reading.value;
    out.unit = UnitText(reading.unit);
    out.port = PortText(reading.port);
    out.timeMs = reading.timeMs;
    out.connected = true;
    out.seq = reading.seq;
    out.grows = reading.grows;
    out.count = reading.count;
    return out;
}

const QString& WeightServiceSink::UnitText(std::string_view unit) {
    if (unit != unitBytes_ || unitText_.isNull()) {
        unitBytes_ = unit;
        unitText_ = FromWin1250(unit);
    }
    return unitText_;
}

void WeightServiceSink::OnNumberedPortState(const PortStateEvent& event, std::int64_t seq) {
    ServiceEvent out;
    out.kind = ServiceEvent::Kind::Status;
    out.seq = seq;
    out.port = PortText(event.port);
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

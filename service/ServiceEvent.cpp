#include "ServiceEvent.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>
#include <cstdint>

#include "JournalExport.h"

const char* EventKindName(ServiceEvent::Kind kind) {
    switch (kind) {
        case ServiceEvent::Kind::Reading:
            return "reading";
        case ServiceEvent::Kind::Report:
            return "report";
        case ServiceEvent::Kind::Gap:
            return "gap";
        case ServiceEvent::Kind::Status:
            return "status";
    }
    return "report";
}

namespace {

// The local offset at `utcMs`. Asking the system costs a look at the zone file on every call
// (thousands a second under load), so each thread keeps the answer for a quarter of an hour:
// offsets change only at whole quarters of UTC.
int LocalOffsetSeconds(std::int64_t utcMs) {
    constexpr std::int64_t kQuarterMs = 15 * 60 * 1000;
    thread_local std::int64_t cachedQuarter = INT64_MIN;
    thread_local int cachedOffset = 0;
    const std::int64_t quarter = utcMs >= 0 ? utcMs / kQuarterMs : (utcMs + 1) / kQuarterMs - 1;
    if (quarter != cachedQuarter) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toLocalTime().offsetFromUtc();
        cachedQuarter = quarter;
    }
    return cachedOffset;
}

}  // namespace

QString IsoTime(std::int64_t utcMs) {
    return QString::fromStdString(FormatIsoTime(utcMs, LocalOffsetSeconds));
}

QJsonObject EventJson(const ServiceEvent& event) {
    QJsonObject object;
    object.insert("seq", static_cast<qint64>(event.seq));
    object.insert("kind", QString::fromLatin1(EventKindName(event.kind)));
    object.insert("time", IsoTime(event.timeMs));
    object.insert("port", event.port);
    if (event.kind == ServiceEvent::Kind::Status) {
        object.insert("connected", event.connected);
        return object;
    }
    object.insert("text", event.text);
    object.insert("value", event.value ? QJsonValue(*event.value) : QJsonValue());
    object.insert("unit", event.unit);
    object.insert("count", static_cast<qint64>(event.count));
    if (event.missedFrom) object.insert("missed_from", static_cast<qint64>(*event.missedFrom));
    return object;
}

QByteArray SseMessage(const ServiceEvent& event) {
    // The JSON writer never puts a line break in its compact form, so data is one line.
    return "id: " + QByteArray::number(static_cast<qint64>(event.seq)) +
           "\nevent: " + EventKindName(event.kind) +
           "\ndata: " + QJsonDocument(EventJson(event)).toJson(QJsonDocument::Compact) + "\n\n";
}

#include "ServiceEvent.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
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

namespace {

// A JSON string: UTF-8, with quotes, backslashes and control characters escaped.
void AppendString(QByteArray& out, const QString& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    out += '"';
}

void AppendTime(QByteArray& out, std::int64_t utcMs) {
    out += '"';
    out += FormatIsoTime(utcMs, LocalOffsetSeconds);
    out += '"';
}

}  // namespace

QByteArray EventJson(const ServiceEvent& event, std::optional<std::int64_t> firstMs) {
    const bool status = event.kind == ServiceEvent::Kind::Status;
    QByteArray out;
    out.reserve(192 + event.text.size() * 2);
    out += '{';
    if (status) {
        out += "\"connected\":";
        out += event.connected ? "true" : "false";
    } else {
        out += "\"count\":" + QByteArray::number(static_cast<qint64>(event.count));
    }
    if (firstMs) {
        out += ",\"first_time\":";
        AppendTime(out, *firstMs);
    }
    out += ",\"kind\":\"";
    out += EventKindName(event.kind);
    out += '"';
    if (event.missedFrom) {
        out += ",\"missed_from\":" + QByteArray::number(static_cast<qint64>(*event.missedFrom));
    }
    out += ",\"port\":";
    AppendString(out, event.port);
    out += ",\"seq\":" + QByteArray::number(static_cast<qint64>(event.seq));
    if (!status) {
        out += ",\"text\":";
        AppendString(out, event.text);
    }
    out += ",\"time\":";
    AppendTime(out, event.timeMs);
    if (!status) {
        out += ",\"unit\":";
        AppendString(out, event.unit);
        out += ",\"value\":";
        if (event.value && std::isfinite(*event.value)) {
            out += QByteArray::number(*event.value, 'g', QLocale::FloatingPointShortest);
        } else {
            out += "null";
        }
    }
    out += '}';
    return out;
}

QByteArray SseMessage(const ServiceEvent& event) {
    const QByteArray seq = QByteArray::number(static_cast<qint64>(event.seq));
    return "id: " + seq + "\nevent: " + EventKindName(event.kind) + "\ndata: " + EventJson(event) +
           "\n\n";
}

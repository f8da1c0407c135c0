#include "ServiceEvent.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
    // The local time with its offset written out, also when the offset is zero ("+00:00").
    // Formatted here from the day count (days to civil date, proleptic Gregorian): the event
    // stream writes thousands of times a second.
    const int offset = LocalOffsetSeconds(utcMs);
    const std::int64_t localMs = utcMs + static_cast<std::int64_t>(offset) * 1000;
    std::int64_t days = localMs / 86400000;
    std::int64_t msOfDay = localMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    const int minutes = std::abs(offset) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  static_cast<long long>(year), month, day, static_cast<int>(msOfDay / 3600000),
                  static_cast<int>(msOfDay / 60000 % 60), static_cast<int>(msOfDay / 1000 % 60),
                  static_cast<int>(msOfDay % 1000), offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return QString::fromLatin1(text);
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
    return object;
}

namespace {

// JSON text of a string, as QJsonDocument writes it (UTF-8; quotes, backslashes and control
// characters escaped).
void AppendJsonString(QByteArray& out, const QString& text) {
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            switch (c) {
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 15];
            }
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendNumber(QByteArray& out, const std::optional<double>& value) {
    if (value && std::isfinite(*value)) {
        out += QByteArray::number(*value, 'g', QLocale::FloatingPointShortest);
    } else {
        out += "null";
    }
}

}  // namespace

// Written directly rather than through QJsonObject: the event stream sends thousands of these
// a second to every client. The keys come in the order EventJson gives them.
QByteArray SseMessage(const ServiceEvent& event) {
    QByteArray message;
    message.reserve(224 + event.text.size());
    const QByteArray seq = QByteArray::number(static_cast<qint64>(event.seq));
    message += "id: ";
    message += seq;
    message += "\nevent: ";
    message += EventKindName(event.kind);
    message += "\ndata: {";
    if (event.kind == ServiceEvent::Kind::Status) {
        message += "\"connected\":";
        message += event.connected ? "true" : "false";
        message += ',';
    } else {
        message += "\"count\":";
        message += QByteArray::number(static_cast<qint64>(event.count));
        message += ',';
    }
    message += "\"kind\":\"";
    message += EventKindName(event.kind);
    message += "\",\"port\":";
    AppendJsonString(message, event.port);
    message += ",\"seq\":";
    message += seq;
    if (event.kind != ServiceEvent::Kind::Status) {
        message += ",\"text\":";
        AppendJsonString(message, event.text);
    }
    message += ",\"time\":\"";
    message += IsoTime(event.timeMs).toLatin1();
    message += '"';
    if (event.kind != ServiceEvent::Kind::Status) {
        message += ",\"unit\":";
        AppendJsonString(message, event.unit);
        message += ",\"value\":";
        AppendNumber(message, event.value);
    }
    message += "}\n\n";
    return message;
}

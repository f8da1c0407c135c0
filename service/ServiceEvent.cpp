#include "ServiceEvent.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonValue>
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

QString IsoTime(std::int64_t utcMs) {
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC);
    const int offset = utc.toLocalTime().offsetFromUtc();
    // The local time with its offset written out, also when the offset is zero ("+00:00").
    const QDateTime local = utc.toOffsetFromUtc(offset);
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
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

QByteArray SseMessage(const ServiceEvent& event) {
    QByteArray message;
    message.reserve(256);
    message += "id: ";
    message += QByteArray::number(static_cast<qint64>(event.seq));
    message += "\nevent: ";
    message += EventKindName(event.kind);
    message += "\ndata: ";
    // Compact JSON never holds a raw line break, so one data line carries the whole object.
    message += QJsonDocument(EventJson(event)).toJson(QJsonDocument::Compact);
    message += "\n\n";
    return message;
}

#pragma once
// One event of the weight service: a received line (reading or report), a journal gap, or a
// change of the port's state. Built on the window's thread from line events, carried to the
// server's thread by value, and turned into JSON there.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>

struct ServiceEvent {
    enum class Kind : std::uint8_t { Reading, Report, Gap, Status };
    Kind kind = Kind::Report;
    std::int64_t seq = 0;  // the journal's row number (status: the last row before it)
    QString text;          // the shown text (up to the first byte 0), UTF-16
    QString reading;       // for a reading: the shown text without spaces ("12,34")
    std::optional<double> value;
    QString unit;
    QString port;             // "COM1" .. "COM4"
    std::int64_t timeMs = 0;  // UTC ms of the (last) line of the row
    std::int64_t count = 1;   // lines in the row
    bool connected = false;   // status: the port is open
    QByteArray raw;           // the received bytes (to tell identical readings apart)
};

// "reading", "report", "gap" or "status": the event's name in the stream and its kind in JSON.
const char* EventKindName(ServiceEvent::Kind kind);

// UTC ms as ISO 8601 with the local offset and milliseconds ("2026-12-07T16:10:00.123+01:00").
QString IsoTime(std::int64_t utcMs);

// The event's JSON object: seq, kind, text, value, unit, time (status: port, connected).
QJsonObject EventJson(const ServiceEvent& event);

// The event as one Server-Sent Events message ("id:", "event:", "data:", blank line).
QByteArray SseMessage(const ServiceEvent& event);

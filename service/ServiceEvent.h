#pragma once
// One event of the weight service: a received line (reading or report), a journal gap, or a
// change of the port's state. Built on the window's thread from line events, carried to the
// server's thread by value, and turned into JSON there by one writer (EventJson).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

struct ServiceEvent {
    enum class Kind : std::uint8_t { Reading, Report, Gap, Status };
    Kind kind = Kind::Report;
    std::int64_t seq = 0;  // the journal's row number (status: the last row before it)
    QString text;          // the whole line, UTF-16, a byte 0 as the visible U+2400
    QString reading;       // for a reading: the shown text without spaces ("12,34")
    std::optional<double> value;
    QString unit;
    QString port;             // "COM1" .. "COM4"
    std::int64_t timeMs = 0;  // UTC ms of the (last) line of the row
    std::int64_t count = 1;   // lines in the row
    bool connected = false;   // status: the port is open
    // A further line of the run of identical readings `seq` (the journal's rule of runs): the
    // row's count and time change, it is no new row.
    bool grows = false;
    // A gap in a resumed stream: the first row it did not get (to be read from /api/v1/lines).
    std::optional<std::int64_t> missedFrom;
};

// "reading", "report", "gap" or "status": the event's name in the stream and its kind in JSON.
const char* EventKindName(ServiceEvent::Kind kind);

// UTC ms as ISO 8601 with the local offset and milliseconds ("2026-12-07T16:10:00.123+01:00").
QString IsoTime(std::int64_t utcMs);

// The event's JSON object, the one writer of it (the event stream, the lines and the page all
// use it): count, kind, port, seq, text, time, unit, value (status: connected, kind, port, seq,
// time; a stream's gap also missed_from; with `firstMs`, first_time). Written directly rather
// than through QJsonObject: the event stream sends thousands of these a second to every client.
QByteArray EventJson(const ServiceEvent& event, std::optional<std::int64_t> firstMs = {});

// The event as one Server-Sent Events message ("id:", "event:", "data:" with EventJson, blank
// line).
QByteArray SseMessage(const ServiceEvent& event);

#pragma once
// The weight service's decisions, each a small function of its inputs: who may ask without a
// token, whether a token matches, which browser origins get CORS headers, whether the service
// may start with its settings, and what a /api/v1/lines query asks for.

#include <QHostAddress>
#include <QString>
#include <cstdint>
#include <optional>

#include "AddOnSettings.h"

// A client on this computer: any address of 127.0.0.0/8, ::1, or an IPv4-mapped 127.x address.
// The kernel never routes 127/8 off the machine, so every one of them counts as loopback.
bool IsLoopbackClient(const QHostAddress& peer);

// True when the Authorization header holds "Bearer <token>" exactly (compared in constant
// time). An empty token never matches.
bool BearerMatches(const QByteArray& authorization, const QByteArray& token);

// The origin to echo in Access-Control-Allow-Origin, or nothing. `allowed` is the Zrodla list
// (comma-separated origins; empty = none; "*" = any).
std::optional<QByteArray> AllowedOrigin(const QByteArray& origin, const QString& allowed);

// Empty when the service may start with these settings; otherwise the cause in Polish
// (a non-loopback address needs a token, an address must be an IP address).
QString StartRefusal(const ServiceSettings& settings);

// The address that the settings name (127.0.0.1 for "localhost"); null when not an address.
QHostAddress ListenAddress(const ServiceSettings& settings);

struct LinesQuery {
    std::int64_t since = 0;  // rows with seq greater than this
    int limit = 100;         // 1 .. 1000
};
// since=SEQ&limit=N; a value that is not a number is an error (nothing), a limit is clamped.
std::optional<LinesQuery> ParseLinesQuery(const QString& since, const QString& limit);

// Last-Event-ID: a decimal seq, or nothing when absent or not a number.
std::optional<std::int64_t> ParseLastEventId(const QByteArray& header);

#pragma once
// The weight service's decisions, each a small function of its inputs: who may ask without a
// token, whether a token matches, which Host names are the service's own, how a request's head
// reads and whether its framing is sound, how repeated wrong tokens are slowed, which browser
// origins get CORS headers, whether the service may start with its settings, and what a
// /api/v1/lines query asks for.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "AddOnSettings.h"

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// A client on this computer: any address of 127.0.0.0/8, ::1, or an IPv4-mapped 127.x address.
// The kernel never routes 127/8 off the machine, so every one of them counts as loopback.
bool IsLoopbackClient(const QHostAddress& peer);

// A client's address as one text per client (an IPv4-mapped address as plain IPv4), the key of
// the per-client limits.
QString ClientKey(const QHostAddress& peer);

// Shorter tokens are refused on an address other computers reach.
inline constexpr int kMinTokenLength = 16;

// True when the Authorization header holds "Bearer <token>" (the scheme in any case, compared
// in constant time). An empty token never matches.
bool BearerMatches(const QByteArray& authorization, const QByteArray& token);

// The origin to echo in Access-Control-Allow-Origin, or nothing. `allowed` is the Zrodla list
// (comma-separated origins; empty = none; "*" = any).
std::optional<QByteArray> AllowedOrigin(const QByteArray& origin, const QString& allowed);

// The headers every answer carries: never cached, and CORS for an allowed browser origin.
HeaderList SharedHeaders(const QByteArray& origin, const QString& allowed);

// An error answer's body: {"error": message, "status": status}.
QByteArray ErrorJson(int status, const QString& message);

// Empty when the service may start with these settings; otherwise the cause in Polish
// (a non-loopback address needs a token of at least 16 characters, an address must be an IP
// address).
QString StartRefusal(const ServiceSettings& settings);

// The address that the settings name (127.0.0.1 for "localhost"); null when not an address.
QHostAddress ListenAddress(const ServiceSettings& settings);

// The names a Host header may carry, lower case: 127.0.0.1, localhost, [::1], the configured
// address and the names of Nazwy. The address a client reached the service at also counts
// (HostLiteral of the connection's local address): a page served from an address itself is no
// other site's.
QStringList OwnHostNames(const ServiceSettings& settings);
QString HostLiteral(const QHostAddress& address);  // "192.168.1.5", "[fe80::1]"

// True when `host` ("name", "name:port", "[v6]:port") names one of `names`, with no port or
// with `port`. Case-insensitive; one trailing dot is ignored.
bool HostIsOwn(const QByteArray& host, const QStringList& names, quint16 port);

// A request's line and header fields as sent.
struct RequestHead {
    QByteArray method;
    QByteArray target;
    QByteArray version;
    HeaderList fields;  // values without surrounding spaces
    QList<QByteArray> Values(const QByteArray& name) const;
};
// The head up to (not including) its empty line; lines end with CR LF or LF alone. Nothing when
// it does not read as HTTP/1.x (a folded line, a space before a colon, a bad request line).
std::optional<RequestHead> ParseRequestHead(const QByteArray& head);

// What the service says to a request before any route sees it.
struct Refusal {
    int status = 0;
    QString message;  // Polish, into the JSON body
    HeaderList headers;
};

// The rules every request's head meets, in this order: sound framing (no Transfer-Encoding,
// at most one Content-Length value, a body of at most `maxBodyBytes`), a Host on HTTP/1.1 that
// names the service (421 for another name, which is how a page of a rebinding DNS name asks),
// and the token from a client that is not on this computer (a preflight OPTIONS carries none).
struct HeadRules {
    QStringList ownNames;
    quint16 port = 0;
    QByteArray token;
    bool loopbackClient = false;
    qint64 maxBodyBytes = 64 * 1024;
};
struct HeadVerdict {
    std::optional<Refusal> refusal;
    qint64 bodyBytes = 0;     // the body that follows the head
    bool wrongToken = false;  // a token was given and it is not ours: a guess
    bool rightToken =
        false;  // the token was given and is ours (on loopback too: its place is kept)
};
HeadVerdict CheckRequestHead(const RequestHead& head, const HeadRules& rules);

// Repeated wrong tokens from one client address are slowed: after `freeFailures` of them, each
// further one shuts the address out for 1 s, 2 s, 4 s ... (`firstWaitMs` doubled, at most 60 s); a
// right token or ten quiet minutes forget them. At most `maxClients` addresses are remembered (the
// one quiet the longest is forgotten first), so a sweep over many addresses cannot grow it without
// bound.
class GuessThrottle {
  public:
    explicit GuessThrottle(int freeFailures = 5, int maxClients = 4096, int firstWaitMs = 1000)
        : freeFailures_(freeFailures), maxClients_(maxClients), firstWaitMs_(firstWaitMs) {}
    // Milliseconds `client` must still wait before its token is looked at; 0 when it may try.
    qint64 WaitMs(const QString& client, qint64 nowMs) const;
    void Failed(const QString& client, qint64 nowMs);
    void Succeeded(const QString& client) { clients_.remove(client); }
    int Remembered() const { return static_cast<int>(clients_.size()); }

  private:
    struct Entry {
        int failures = 0;
        qint64 lastMs = 0;
        qint64 lockedUntilMs = 0;
    };
    int freeFailures_;
    int maxClients_;
    int firstWaitMs_;
    QHash<QString, Entry> clients_;
};

struct LinesQuery {
    std::int64_t since = 0;  // rows with seq greater than this
    int limit = 100;         // 1 .. 1000
};
// since=SEQ&limit=N; a value that is not a number is an error (nothing), a limit is clamped.
std::optional<LinesQuery> ParseLinesQuery(const QString& since, const QString& limit);

// Last-Event-ID: a decimal seq, or nothing when absent or not a number.
std::optional<std::int64_t> ParseLastEventId(const QByteArray& header);

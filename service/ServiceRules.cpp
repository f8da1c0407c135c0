#include "ServiceRules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

bool IsLoopbackClient(const QHostAddress& peer) {
    if (peer.isLoopback()) return true;
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);  // also unwraps ::ffff:a.b.c.d
    return isV4 && (v4 >> 24) == 127;
}

QString ClientKey(const QHostAddress& peer) {
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4) return QHostAddress(v4).toString();
    QHostAddress plain = peer;
    plain.setScopeId({});
    return plain.toString();
}

bool BearerMatches(const QByteArray& authorization, const QByteArray& token) {
    static const QByteArray kScheme = "bearer";
    if (token.isEmpty() || authorization.size() <= kScheme.size() ||
        authorization.left(kScheme.size()).toLower() != kScheme ||
        authorization[kScheme.size()] != ' ') {
        return false;
    }
    const QByteArray given = authorization.mid(kScheme.size()).trimmed();
    // Compare every byte whatever the lengths, so the time does not tell how much matched.
    unsigned difference = given.size() == token.size() ? 0u : 1u;
    for (qsizetype i = 0; i < token.size(); ++i) {
        const char g = i < given.size() ? given[i] : '\0';
        difference |= static_cast<unsigned char>(g ^ token[i]);
    }
    return difference == 0;
}

std::optional<QByteArray> AllowedOrigin(const QByteArray& origin, const QString& allowed) {
    if (origin.isEmpty()) return std::nullopt;
    const QString wanted = QString::fromUtf8(origin).trimmed();
    for (const QString& item : allowed.split(',', Qt::SkipEmptyParts)) {
        const QString entry = item.trimmed();
        if (entry == QLatin1String("*")) return QByteArray("*");
        // Origins compare without a trailing slash and case-insensitively (scheme and host).
        QString normal = entry;
        while (normal.endsWith('/')) normal.chop(1);
        if (!normal.isEmpty() && normal.compare(wanted, Qt::CaseInsensitive) == 0) return origin;
    }
    return std::nullopt;
}

HeaderList SharedHeaders(const QByteArray& origin, const QString& allowed) {
    HeaderList headers{{"Cache-Control", "no-store"}};
    if (const auto echoed = AllowedOrigin(origin, allowed)) {
        headers.append(qMakePair(QByteArray("Access-Control-Allow-Origin"), *echoed));
        headers.append(qMakePair(QByteArray("Vary"), QByteArray("Origin")));
    }
    return headers;
}

QByteArray ErrorJson(int status, const QString& message) {
    QJsonObject error;
    error.insert("error", message);
    error.insert("status", status);
    return QJsonDocument(error).toJson(QJsonDocument::Compact);
}

QHostAddress ListenAddress(const ServiceSettings& settings) {
    const QString text = QString::fromStdString(settings.address).trimmed();
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    QHostAddress address;
    if (!address.setAddress(text)) return QHostAddress();
    return address;
}

QString StartRefusal(const ServiceSettings& settings) {
    const QHostAddress address = ListenAddress(settings);
    if (address.isNull()) {
        return QStringLiteral("adres „%1” nie jest adresem IP")
            .arg(QString::fromStdString(settings.address));
    }
    if (!IsLoopbackClient(address)) {
        if (settings.token.empty()) return QStringLiteral("adres inny niż 127.0.0.1 wymaga tokenu");
        if (QString::fromStdString(settings.token).size() < kMinTokenLength) {
            return QStringLiteral("token musi mieć co najmniej %1 znaków").arg(kMinTokenLength);
        }
    }
    return {};
}

QString HostLiteral(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) return QHostAddress(v4).toString();
    QHostAddress plain = address;
    plain.setScopeId({});
    return QLatin1Char('[') + plain.toString().toLower() + QLatin1Char(']');
}

namespace {

QString NormalName(QString name) {
    name = name.trimmed().toLower();
    if (name.endsWith(QLatin1Char('.'))) name.chop(1);
    // An IPv6 address written plainly is compared as a Host header writes it.
    if (name.count(QLatin1Char(':')) > 1 && !name.startsWith(QLatin1Char('['))) {
        QHostAddress address;
        if (address.setAddress(name)) return HostLiteral(address);
    }
    return name;
}

}  // namespace

QStringList OwnHostNames(const ServiceSettings& settings) {
    QStringList names{QStringLiteral("127.0.0.1"), QStringLiteral("localhost"),
                      QStringLiteral("[::1]")};
    const QHostAddress address = ListenAddress(settings);
    if (!address.isNull()) names << HostLiteral(address);
    names << NormalName(QString::fromStdString(settings.address));
    for (const QString& name :
         QString::fromStdString(settings.names).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty()) names << NormalName(name);
    }
    names.removeDuplicates();
    return names;
}

bool HostIsOwn(const QByteArray& host, const QStringList& names, quint16 port) {
    const QByteArray text = host.trimmed().toLower();
    QByteArray name;
    QByteArray rest;
    if (text.startsWith('[')) {
        const qsizetype end = text.indexOf(']');
        if (end < 0) return false;
        name = text.left(end + 1);
        rest = text.mid(end + 1);
    } else {
        const qsizetype colon = text.indexOf(':');
        if (colon >= 0 && text.lastIndexOf(':') != colon) return false;  // IPv6 needs brackets
        name = colon < 0 ? text : text.left(colon);
        rest = colon < 0 ? QByteArray() : text.mid(colon);
    }
    if (!rest.isEmpty()) {
        const QByteArray digits = rest.mid(1);
        bool ok =
            rest.startsWith(':') && !digits.isEmpty() && digits.size() <= 5 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!ok || digits.toUInt() != port) return false;
    }
    if (name.endsWith('.')) name.chop(1);
    return !name.isEmpty() && names.contains(QString::fromLatin1(name));
}

QList<QByteArray> RequestHead::Values(const QByteArray& name) const {
    QList<QByteArray> values;
    for (const auto& [key, value] : fields) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) values.append(value);
    }
    return values;
}

namespace {

bool IsTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool IsToken(const QByteArray& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

}  // namespace

std::optional<RequestHead> ParseRequestHead(const QByteArray& head) {
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r')) line.chop(1);
        // A CR or a NUL inside a line is read differently by different readers.
        if (line.contains('\r') || line.contains('\0')) return std::nullopt;
    }
    while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    while (!lines.isEmpty() && lines.front().isEmpty()) lines.removeFirst();  // before the line
    if (lines.isEmpty()) return std::nullopt;
    const QList<QByteArray> parts = lines.front().split(' ');
    if (parts.size() != 3 || !IsToken(parts[0]) || parts[1].isEmpty()) return std::nullopt;
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") return std::nullopt;
    RequestHead parsed{parts[0], parts[1], parts[2], {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        // A folded line (leading space) or a space before the colon: two readers could take it
        // two ways, so it is no request at all.
        if (colon <= 0 || !IsToken(line.left(colon))) return std::nullopt;
        parsed.fields.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
    }
    return parsed;
}

namespace {

// Every value of every Content-Length field ("5", "5, 5"); nothing when one is not a number.
std::optional<QList<qint64>> ContentLengths(const RequestHead& head) {
    QList<qint64> lengths;
    for (const QByteArray& value : head.Values("Content-Length")) {
        for (const QByteArray& item : value.split(',')) {
            const QByteArray digits = item.trimmed();
            if (digits.isEmpty() || digits.size() > 15 ||
                !std::all_of(digits.begin(), digits.end(),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                return std::nullopt;
            }
            lengths.append(digits.toLongLong());
        }
    }
    return lengths;
}

bool IsAbsoluteForm(const QByteArray& target) {
    const QByteArray lower = target.left(8).toLower();
    return lower.startsWith("http://") || lower.startsWith("https://");
}

QByteArray AuthorityOf(const QByteArray& absoluteTarget) {
    const qsizetype start = absoluteTarget.indexOf("//") + 2;
    qsizetype end = start;
    while (end < absoluteTarget.size() && absoluteTarget[end] != '/' &&
           absoluteTarget[end] != '?' && absoluteTarget[end] != '#') {
        ++end;
    }
    return absoluteTarget.mid(start, end - start);
}

Refusal Refuse(int status, const char* message, HeaderList headers = {}) {
    return {status, QString::fromUtf8(message), std::move(headers)};
}

}  // namespace

HeadVerdict CheckRequestHead(const RequestHead& head, const HeadRules& rules) {
    HeadVerdict verdict;
    // Framing: one reading of where the body ends, or no request.
    const auto lengths = ContentLengths(head);
    const bool chunked = !head.Values("Transfer-Encoding").isEmpty();
    if (!lengths) {
        verdict.refusal = Refuse(400, "Content-Length nie jest liczbą");
        return verdict;
    }
    if (chunked && !lengths->isEmpty()) {
        verdict.refusal = Refuse(400, "Content-Length i Transfer-Encoding naraz");
        return verdict;
    }
    if (chunked) {
        verdict.refusal = Refuse(411, "treść żądania tylko z Content-Length");
        return verdict;
    }
    if (!lengths->isEmpty()) {
        if (std::any_of(lengths->begin(), lengths->end(),
                        [&](qint64 n) { return n != lengths->front(); })) {
            verdict.refusal = Refuse(400, "różne wartości Content-Length");
            return verdict;
        }
        if (lengths->front() > rules.maxBodyBytes) {
            verdict.refusal = Refuse(413, "treść żądania ponad 64 KiB");
            return verdict;
        }
        verdict.bodyBytes = lengths->front();
    }
    // The name the client asked for.
    const QList<QByteArray> hosts = head.Values("Host");
    if (hosts.size() > 1) {
        verdict.refusal = Refuse(400, "więcej niż jeden nagłówek Host");
        return verdict;
    }
    if (head.version == "HTTP/1.1" && (hosts.isEmpty() || hosts.front().isEmpty())) {
        verdict.refusal = Refuse(400, "brak nagłówka Host");
        return verdict;
    }
    const bool hostOwn = hosts.isEmpty() || HostIsOwn(hosts.front(), rules.ownNames, rules.port);
    const bool targetOwn = !IsAbsoluteForm(head.target) ||
                           HostIsOwn(AuthorityOf(head.target), rules.ownNames, rules.port);
    if (!hostOwn || !targetOwn) {
        verdict.refusal = Refuse(421, "ta nazwa nie należy do serwera wagi");
        return verdict;
    }
    // Who asks.
    const QList<QByteArray> given = head.Values("Authorization");
    verdict.rightToken = given.size() == 1 && BearerMatches(given.front(), rules.token);
    if (!rules.loopbackClient && head.method != "OPTIONS") {
        if (!verdict.rightToken) {
            verdict.wrongToken = !given.isEmpty();
            verdict.refusal = Refuse(401, "wymagany token", {{"WWW-Authenticate", "Bearer"}});
        }
    }
    return verdict;
}

qint64 GuessThrottle::WaitMs(const QString& client, qint64 nowMs) const {
    const auto it = clients_.constFind(client);
    if (it == clients_.constEnd()) return 0;
    return std::max<qint64>(0, it->lockedUntilMs - nowMs);
}

void GuessThrottle::Failed(const QString& client, qint64 nowMs) {
    constexpr qint64 kForgetMs = 10 * 60 * 1000;
    constexpr qint64 kLongestMs = 60 * 1000;
    if (!clients_.contains(client) && clients_.size() >= maxClients_) {
        auto quietest = clients_.begin();
        for (auto it = clients_.begin(); it != clients_.end(); ++it) {
            if (it->lastMs < quietest->lastMs) quietest = it;
        }
        clients_.erase(quietest);
    }
    Entry& entry = clients_[client];
    if (nowMs - entry.lastMs > kForgetMs) entry = {};
    ++entry.failures;
    entry.lastMs = nowMs;
    if (entry.failures > freeFailures_) {
        const int doublings = std::min(entry.failures - freeFailures_ - 1, 6);
        entry.lockedUntilMs =
            nowMs + std::min<qint64>(qint64(firstWaitMs_) << doublings, kLongestMs);
    }
}

std::optional<LinesQuery> ParseLinesQuery(const QString& since, const QString& limit) {
    LinesQuery query;
    bool ok = true;
    if (!since.isEmpty()) {
        query.since = since.toLongLong(&ok);
        if (!ok) return std::nullopt;
    }
    if (!limit.isEmpty()) {
        const qlonglong n = limit.toLongLong(&ok);
        if (!ok) return std::nullopt;
        query.limit = static_cast<int>(std::clamp<qlonglong>(n, 1, 1000));
    }
    return query;
}

std::optional<std::int64_t> ParseLastEventId(const QByteArray& header) {
    bool ok = false;
    const qlonglong seq = header.trimmed().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return seq;
}

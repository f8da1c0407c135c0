#include "ServiceRules.h"

#include <QStringList>

bool IsLoopbackClient(const QHostAddress& peer) {
    if (peer.isLoopback()) return true;
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);  // also unwraps ::ffff:a.b.c.d
    return isV4 && (v4 >> 24) == 127;
}

bool BearerMatches(const QByteArray& authorization, const QByteArray& token) {
    static const QByteArray kPrefix = "Bearer ";
    if (token.isEmpty() || !authorization.startsWith(kPrefix)) return false;
    const QByteArray given = authorization.mid(kPrefix.size());
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
    if (!IsLoopbackClient(address) && settings.token.empty()) {
        return QStringLiteral("adres inny niż 127.0.0.1 wymaga tokenu");
    }
    return {};
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

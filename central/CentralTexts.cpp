#include "CentralTexts.h"

#include <QDateTime>
#include <QSysInfo>
#include <algorithm>

namespace central {

int NextRetryPauseMs(int previousMs, int capMs) {
    capMs = std::max(capMs, 1);
    if (previousMs <= 0) return std::min(kFirstRetryPauseMs, capMs);
    if (previousMs >= capMs / 2) return capMs;
    return std::min(previousMs * 2, capMs);
}

int RetryCapFromEnvironment() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("WAGA_CENTRAL_RETRY_MAX_MS", &ok);
    if (!ok || value < 100 || value > kMaxRetryPauseMs) return kMaxRetryPauseMs;
    return value;
}

QString CentralStateText(const CentralStatus& status) {
    if (!status.enabled) return QStringLiteral("wyłączona");
    if (status.connected) return QStringLiteral("połączona, zaległe: %1").arg(status.backlog);
    return QStringLiteral("brak połączenia: %1; zaległe: %2").arg(status.cause).arg(status.backlog);
}

QString LastUploadText(qint64 lastUploadUtcMs) {
    if (lastUploadUtcMs <= 0) return QStringLiteral("ostatnie wysłanie: jeszcze nie");
    return QStringLiteral("ostatnie wysłanie: ") +
           QDateTime::fromMSecsSinceEpoch(lastUploadUtcMs, Qt::UTC)
               .toLocalTime()
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString ShortCause(const QString& message) {
    QString text = message.trimmed();
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline >= 0) text = text.left(newline).trimmed();
    // "connection to server at "host", port 5432 failed: Connection refused" keeps the cause.
    if (text.startsWith(QLatin1String("connection to server"))) {
        const qsizetype failed = text.indexOf(QLatin1String(" failed: "));
        if (failed >= 0) text = text.mid(failed + 9).trimmed();
    }
    for (const char* prefix : {"FATAL:", "ERROR:", "could not connect to server:"}) {
        if (text.startsWith(QLatin1String(prefix))) text = text.mid(qstrlen(prefix)).trimmed();
    }
    if (text.endsWith(QLatin1String("QPSQL: Unable to connect"))) {
        text.chop(qstrlen("QPSQL: Unable to connect"));
        text = text.trimmed();
    }
    return text.isEmpty() ? QStringLiteral("nieznana przyczyna") : text;
}

QString PgConnectOptions(const CentralSettings& settings) {
    QString mode = QString::fromStdString(settings.ssl);
    if (mode != QLatin1String("disable") && mode != QLatin1String("verify-full")) {
        mode = QStringLiteral("require");
    }
    return QStringLiteral(
               "sslmode=%1;connect_timeout=5;keepalives=1;keepalives_idle=10;"
               "keepalives_interval=5;keepalives_count=3;application_name=waga")
        .arg(mode);
}

QString StationName(const CentralSettings& settings) {
    const QString station = QString::fromStdString(settings.station).trimmed();
    return station.isEmpty() ? QSysInfo::machineHostName() : station;
}

}  // namespace central

#include "CentralTexts.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QSysInfo>
#include <algorithm>

namespace central {

int GatherIntervalMs(int gatherMs, int lastAnswerMs) {
    const qint64 slow = 4 * qint64(std::max(lastAnswerMs, 0));
    return int(std::clamp<qint64>(slow, gatherMs, 2 * qint64(gatherMs)));
}

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
    if (status.held) {
        return QStringLiteral("wstrzymana: %1; zaległe: %2").arg(status.cause).arg(status.backlog);
    }
    if (status.connected && status.cause.isEmpty()) {
        return QStringLiteral("połączona, zaległe: %1").arg(status.backlog);
    }
    if (status.connected) {
        return QStringLiteral("połączona, ale wysyłanie stoi: %1; zaległe: %2")
            .arg(status.cause)
            .arg(status.backlog);
    }
    return QStringLiteral("brak połączenia: %1; zaległe: %2").arg(status.cause).arg(status.backlog);
}

QString LastUploadText(qint64 lastUploadUtcMs) {
    if (lastUploadUtcMs <= 0) return QStringLiteral("ostatnie wysłanie: jeszcze nie");
    return QStringLiteral("ostatnie wysłanie: ") +
           QDateTime::fromMSecsSinceEpoch(lastUploadUtcMs, Qt::UTC)
               .toLocalTime()
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

namespace {

// The causes the operator can meet on the central connection, as libpq and the server word them
// (the first line, without prefixes), and what the window says instead. The first row whose
// pattern occurs in a message replaces the part it matched; %1, %2 ... are its captures.
struct CauseRow {
    const char* pattern;
    const char* polish;
};

constexpr CauseRow kCauses[] = {
    // The server's certificate and TLS.
    {R"re(root certificate file "([^"]*)" does not exist)re",
     "brak pliku certyfikatu CA serwera „%1” (ustaw CA w oknie Baza centralna)"},
    {R"re(could not read root certificate file "([^"]*)": (.*))re",
     "nie można odczytać pliku certyfikatu CA „%1”: %2"},
    {R"re(could not get home directory to locate root certificate file)re",
     "brak katalogu domowego z certyfikatem CA (ustaw CA w oknie Baza centralna)"},
    {R"re(SSL error: certificate verify failed)re",
     "certyfikat serwera nie pochodzi od CA z ustawienia CA albo jest nieważny: to może nie być "
     "właściwy serwer"},
    {R"re(server certificate for "([^"]*)"(?: \(and \d+ other names?\))? does not match host )re"
     R"re(name "([^"]*)")re",
     "certyfikat serwera jest wystawiony dla „%1”, nie dla „%2”: to może nie być właściwy "
     "serwer"},
    {R"re(could not get server's host name from server certificate)re",
     "certyfikat serwera nie podaje nazwy serwera"},
    {R"re(server does not support SSL, but SSL was required)re",
     "serwer nie obsługuje szyfrowania TLS"},
    {R"re(SSL SYSCALL error: .*|SSL connection has been closed unexpectedly)re",
     "połączenie TLS z serwerem zostało przerwane"},
    // Who is who: the password goes only into SCRAM bound to the TLS channel.
    {R"re(channel binding required, but server authenticated client without channel binding)re",
     "serwer przyjął połączenie bez sprawdzenia hasła (bez wiązania kanału SCRAM): to może nie "
     "być właściwy serwer; nic nie wysłano"},
    {R"re(channel binding required but not supported by server's authentication request)re",
     "serwer żąda hasła inaczej niż przez SCRAM z wiązaniem kanału: hasła nie wysłano"},
    {R"re(channel binding is required, but server did not offer an authentication method that )re"
     R"re(supports channel binding)re",
     "serwer nie oferuje logowania SCRAM z wiązaniem kanału (hasło roli zapisane jako "
     "scram-sha-256 i połączenie TLS): hasła nie wysłano"},
    {R"re(channel binding required, but SSL not in use)re",
     "logowanie z wiązaniem kanału wymaga szyfrowania TLS"},
    {R"re(password authentication failed for user "([^"]*)")re",
     "złe hasło użytkownika „%1” (popraw je w oknie Baza centralna)"},
    {R"re(fe_sendauth: no password supplied)re",
     "brak hasła: plik haseł nie ma wpisu dla tego serwera, portu, bazy i użytkownika"},
    {R"re(no pg_hba\.conf entry for host "([^"]*)", user "([^"]*)", database "([^"]*)", no )re"
     R"re(encryption)re",
     "serwer nie przyjmuje od %1 połączeń użytkownika „%2” z bazą „%3” bez szyfrowania "
     "(pg_hba.conf)"},
    {R"re(no pg_hba\.conf entry for host "([^"]*)", user "([^"]*)", database "([^"]*)".*)re",
     "serwer nie przyjmuje od %1 połączeń użytkownika „%2” z bazą „%3” (pg_hba.conf)"},
    {R"re(role "([^"]*)" does not exist)re", "na serwerze nie ma roli „%1”"},
    {R"re(database "([^"]*)" does not exist)re", "na serwerze nie ma bazy „%1”"},
    // The network and the server's state; the system's own words (strerror) come in the
    // process's language.
    {R"re(Connection refused|Połączenie odrzucone)re",
     "serwer odmawia połączenia (nie działa albo zły port)"},
    {R"re(timeout expired|Connection timed out|Przekroczony czas oczekiwania na połączenie)re",
     "serwer nie odpowiada (minął czas oczekiwania)"},
    {R"re(could not translate host name "([^"]*)" to address.*)re", "nieznana nazwa serwera „%1”"},
    {R"re(No route to host|Network is unreachable|Brak trasy do hosta|Sieć jest niedostępna)re",
     "brak drogi do serwera (sieć)"},
    {R"re(server closed the connection unexpectedly)re", "serwer zamknął połączenie"},
    {R"re(the database system is starting up)re", "serwer bazy dopiero się uruchamia"},
    {R"re(the database system is shutting down)re", "serwer bazy właśnie się zatrzymuje"},
    {R"re(terminating connection due to administrator command)re",
     "administrator serwera zakończył połączenie"},
    // Rights.
    {R"re(permission denied to create temporary tables in database "([^"]*)")re",
     "brak prawa do tabel tymczasowych w bazie „%1” (GRANT TEMPORARY, central/roles.sql)"},
    {R"re(permission denied to create role)re",
     "brak prawa do tworzenia ról: role waga_stations i waga_erp zakłada administrator "
     "(central/roles.sql)"},
    {R"re(permission denied for table (\S+))re", "brak uprawnień do tabeli %1"},
    {R"re(permission denied for view (\S+))re", "brak uprawnień do widoku %1"},
    {R"re(permission denied for schema (\S+))re", "brak uprawnień do schematu %1"},
    {R"re(permission denied for database (\S+))re", "brak uprawnień do bazy %1"},
    {R"re(new row violates row-level security policy.*)re",
     "serwer nie przyjął wierszy innej stacji: nazwa stacji (Stacja) musi być nazwą roli "
     "użytkownika (Uzytkownik)"},
};

QString Translated(const QString& text) {
    static const std::vector<QRegularExpression> patterns = [] {
        std::vector<QRegularExpression> compiled;
        for (const CauseRow& row : kCauses) compiled.emplace_back(QString::fromUtf8(row.pattern));
        return compiled;
    }();
    for (std::size_t r = 0; r < patterns.size(); ++r) {
        const QRegularExpressionMatch match = patterns[r].match(text);
        if (!match.hasMatch()) continue;
        // One pass over the template, so a captured text holding "%2" stays as it is.
        const QString polishTemplate = QString::fromUtf8(kCauses[r].polish);
        QString polish;
        for (qsizetype i = 0; i < polishTemplate.size(); ++i) {
            if (polishTemplate[i] == QLatin1Char('%') && i + 1 < polishTemplate.size() &&
                polishTemplate[i + 1].isDigit()) {
                polish += match.captured(polishTemplate[++i].digitValue());
            } else {
                polish += polishTemplate[i];
            }
        }
        return text.left(match.capturedStart()) + polish + text.mid(match.capturedEnd());
    }
    return text;
}

}  // namespace

QString ShortCause(const QString& message) {
    QString text = message.trimmed();
    const qsizetype newline = text.indexOf(QLatin1Char('\n'));
    if (newline >= 0) text = text.left(newline).trimmed();
    // "connection to server at "host", port 5432 failed: Connection refused" keeps the cause.
    if (text.startsWith(QLatin1String("connection to server"))) {
        const qsizetype failed = text.indexOf(QLatin1String(" failed: "));
        if (failed >= 0) text = text.mid(failed + 9).trimmed();
    }
    if (text.startsWith(QLatin1String("could not connect to server:"))) {
        text = text.mid(qstrlen("could not connect to server:")).trimmed();
    }
    // The server's severity, also after a prefix of ours ("...: ERROR:  permission denied").
    static const QRegularExpression severity(QStringLiteral("(^|: )(?:FATAL|ERROR):\\s+"));
    text.replace(severity, QStringLiteral("\\1"));
    return text.isEmpty() ? QStringLiteral("nieznana przyczyna") : Translated(text);
}

bool IsUnsafeTlsMode(const std::string& ssl) { return ssl == "require" || ssl == "disable"; }

QString TlsModeWarning(const std::string& ssl) {
    if (ssl == "require") {
        return QStringLiteral(
            "Niebezpieczne: SSL=require szyfruje, ale nie sprawdza certyfikatu serwera.");
    }
    if (ssl == "disable") {
        return QStringLiteral(
            "Niebezpieczne: SSL=disable – bez szyfrowania; hasło i ważenia "
            "może odebrać każdy serwer podszywający się pod bazę centralną.");
    }
    return {};
}

std::vector<std::pair<QString, QString>> PgConnectParameters(const CentralSettings& settings) {
    const QString mode = IsUnsafeTlsMode(settings.ssl) ? QString::fromStdString(settings.ssl)
                                                       : QStringLiteral("verify-full");
    std::vector<std::pair<QString, QString>> parameters{
        {QStringLiteral("host"), QString::fromStdString(settings.host)},
        {QStringLiteral("port"), QString::number(settings.port)},
        {QStringLiteral("dbname"), QString::fromStdString(settings.database)},
        {QStringLiteral("user"), QString::fromStdString(settings.user)},
        {QStringLiteral("sslmode"), mode}};
    if (mode != QLatin1String("disable")) {
        if (!settings.ca.empty()) {
            parameters.emplace_back(QStringLiteral("sslrootcert"),
                                    QString::fromStdString(settings.ca));
        }
        // A pooler cannot bind (the uploader then insists that it asked for the password).
        if (!settings.pooler) {
            parameters.emplace_back(QStringLiteral("channel_binding"), QStringLiteral("require"));
        }
    }
    for (const auto& [key, value] : {std::pair{"gssencmode", "disable"},
                                     {"client_encoding", "UTF8"},
                                     {"keepalives", "1"},
                                     {"keepalives_idle", "10"},
                                     {"keepalives_interval", "5"},
                                     {"keepalives_count", "3"},
                                     {"tcp_user_timeout", "15000"},
                                     {"application_name", "waga"}}) {
        parameters.emplace_back(QLatin1String(key), QLatin1String(value));
    }
    parameters.emplace_back(QStringLiteral("connect_timeout"), QString::number(kConnectTimeoutS));
    // A pooler refuses startup options; its role on the server has these limits instead.
    if (settings.pooler) return parameters;
    parameters.emplace_back(
        QStringLiteral("options"),
        QStringLiteral("-c statement_timeout=%1 -c idle_in_transaction_session_timeout=%2"
                       " -c client_connection_check_interval=1000")
            .arg(kStatementTimeoutMs)
            .arg(kStatementTimeoutMs + kAnswerGraceMs));
    return parameters;
}

QString ConnectSettingsProblem(const CentralSettings& settings) {
    if (settings.host.empty()) return QStringLiteral("nie podano serwera (Serwer)");
    if (settings.database.empty()) return QStringLiteral("nie podano bazy (Baza)");
    if (settings.user.empty()) return QStringLiteral("nie podano użytkownika (Użytkownik)");
    return {};
}

QString QueryFailureCause(const QString& sqlState, const QString& message) {
    static const struct {
        const char* state;
        const char* polish;
    } kStates[] = {
        {"57014",
         "serwer przerwał polecenie po przekroczeniu czasu (tabela zablokowana albo serwer "
         "przeciążony)"},
        {"55P03", "tabela na serwerze jest zablokowana"},
        {"57P01", "administrator serwera zakończył połączenie"},
        {"57P02", "serwer bazy przerywa pracę po awarii"},
        {"57P03", "serwer bazy jeszcze nie przyjmuje połączeń"},
        {"53100", "serwerowi bazy brakuje miejsca na dysku"},
        {"53200", "serwerowi bazy brakuje pamięci"},
        {"25P03", "serwer zakończył transakcję pozostawioną otwartą"},
    };
    for (const auto& row : kStates) {
        if (sqlState == QLatin1String(row.state)) return QString::fromUtf8(row.polish);
    }
    return ShortCause(message);
}

namespace {

QString LineInShort(const QString& kind, const QString& text, qint64 firstMs) {
    constexpr qsizetype kShown = 40;
    QString shown = text;
    if (shown.size() > kShown) shown = shown.left(kShown) + QStringLiteral("…");
    return QStringLiteral("%1 „%2” z %3")
        .arg(kind, shown,
             QDateTime::fromMSecsSinceEpoch(firstMs, Qt::UTC)
                 .toLocalTime()
                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
}

}  // namespace

QString ConflictCause(qint64 seq, const QString& ourKind, const QString& ourText, qint64 ourFirstMs,
                      const QString& theirKind, const QString& theirText, qint64 theirFirstMs) {
    return QStringLiteral(
               "wiersz %1 jest w bazie centralnej jako inna linia (w dzienniku: %2; w bazie: %3);"
               " z tej partii nic nie zapisano. Sprawdź nazwę stacji (Stacja) i naciśnij Zapisz"
               " w oknie Baza centralna")
        .arg(QString::number(seq), LineInShort(ourKind, ourText, ourFirstMs),
             LineInShort(theirKind, theirText, theirFirstMs));
}

QString CentralNotice(const CentralStatus& status) {
    if (!status.enabled || status.cause == QString::fromUtf8(kConnectingCause)) return {};
    return status.cause;
}

QString StationName(const CentralSettings& settings) {
    const QString station = QString::fromStdString(settings.station).trimmed();
    return station.isEmpty() ? QSysInfo::machineHostName() : station;
}

}  // namespace central

#include "CentralSchema.h"

#include <QRegularExpression>
#include <optional>
#include <vector>

#include "CentralSchemaText.h"
#include "CentralTexts.h"

namespace central {
namespace {

// Serialises schema creation between stations that connect to an empty database at once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7215410021)";

QString Failure(const PgLink& link) { return QueryFailureCause(link.ErrorState(), link.Error()); }

// One value of a one-row query; nullopt with `cause` on an error.
std::optional<QByteArray> Single(PgLink& link, const char* sql, PgDeadline deadline,
                                 QString& cause) {
    std::vector<PgResult> results;
    if (link.Exec(sql, results, deadline) != PgWait::Done) {
        cause = Failure(link);
        return std::nullopt;
    }
    if (results.size() != 1 || !results[0].Ok() || results[0].Rows() != 1) {
        cause = results.empty()
                    ? QStringLiteral("brak odpowiedzi serwera")
                    : QueryFailureCause(results.back().SqlState(), results.back().Message());
        return std::nullopt;
    }
    return results[0].Value(0, 0);
}

// The version recorded on the server, 0 when the schema is missing; -1 on an error.
int ServerVersion(PgLink& link, PgDeadline deadline, QString& cause) {
    const auto there =
        Single(link, "SELECT to_regclass('schema_version') IS NOT NULL", deadline, cause);
    if (!there) return -1;
    if (*there != "t") return 0;
    const auto version =
        Single(link, "SELECT coalesce(max(version), 0) FROM schema_version", deadline, cause);
    if (!version) return -1;
    return version->toInt();
}

// Runs `statements` in one transaction under the schema lock. With `creating`, nothing runs when
// the schema is there once the lock is held: another station made it meanwhile, and only the
// tables' owner may run the rights again.
bool RunInTransaction(PgLink& link, const QStringList& statements, PgDeadline deadline,
                      QString& cause, bool creating = false) {
    const auto fail = [&] {
        cause = Failure(link);
        link.Run("ROLLBACK", deadline);
        return false;
    };
    if (link.Run("BEGIN", deadline) != PgWait::Done) return fail();
    if (link.Run(kSchemaLock, deadline) != PgWait::Done) return fail();
    if (creating) {
        const auto there =
            Single(link, "SELECT to_regclass('schema_version') IS NOT NULL", deadline, cause);
        if (!there) {
            link.Run("ROLLBACK", deadline);
            return false;
        }
        if (*there == "t") {  // the version is read again afterwards
            if (link.Run("COMMIT", deadline) != PgWait::Done) return fail();
            return true;
        }
    }
    for (const QString& statement : statements) {
        if (link.Run(statement.toUtf8().constData(), deadline) != PgWait::Done) return fail();
    }
    if (link.Run("COMMIT", deadline) != PgWait::Done) return fail();
    return true;
}

// A file's statements: each ends with ';' at the end of a line outside a dollar-quoted body
// ($name$ ... $name$); comment lines outside such a body are dropped.
QStringList Statements(const char* sql) {
    static const QRegularExpression dollarQuote(QStringLiteral("\\$[A-Za-z_]*\\$"));
    QStringList statements;
    QString current;
    QString openQuote;  // the dollar quote the current line is inside of, if any
    for (const QString& line : QString::fromUtf8(sql).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (openQuote.isEmpty() && (trimmed.startsWith(QLatin1String("--")) || trimmed.isEmpty())) {
            continue;
        }
        current += line + QLatin1Char('\n');
        for (auto quotes = dollarQuote.globalMatch(line); quotes.hasNext();) {
            const QString quote = quotes.next().captured();
            if (openQuote.isEmpty()) {
                openQuote = quote;
            } else if (quote == openQuote) {
                openQuote.clear();
            }
        }
        if (openQuote.isEmpty() && trimmed.endsWith(QLatin1Char(';'))) {
            statements << current.trimmed();
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty()) statements << current.trimmed();
    return statements;
}

}  // namespace

QStringList CentralSchemaStatements() { return Statements(kCentralSchemaSql); }

QStringList CentralRolesStatements() { return Statements(kCentralRolesSql); }

bool EnsureCentralSchema(PgLink& link, PgDeadline deadline, QString& cause) {
    int version = ServerVersion(link, deadline, cause);
    if (version < 0) return false;
    if (version == 0) {
        QString error;
        // The notices of the idempotent statements ("does not exist, skipping") are no news.
        const QStringList statements =
            QStringList{QStringLiteral("SET LOCAL client_min_messages = warning")} +
            CentralSchemaStatements() + CentralRolesStatements();
        if (!RunInTransaction(link, statements, deadline, error, true)) {
            cause = QStringLiteral("brak schematu bazy, a jego utworzenie się nie udało: ") + error;
            return false;
        }
        version = ServerVersion(link, deadline, cause);
        if (version < 0) return false;
    }
    if (version > kCentralSchemaVersion) {
        cause = QStringLiteral("schemat bazy ma wersję %1, nowszą niż zna program (%2)")
                    .arg(version)
                    .arg(kCentralSchemaVersion);
        return false;
    }
    // Later versions add their steps here, each run in one transaction with the version raised:
    // while (version < kCentralSchemaVersion) { RunInTransaction(link, Migration(version), ...); }
    return true;
}

}  // namespace central

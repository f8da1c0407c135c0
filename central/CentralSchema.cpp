#include "CentralSchema.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "CentralSchemaText.h"

namespace central {
namespace {

// Serialises schema creation between stations that connect to an empty database at once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7215410021)";

QString QueryError(const QSqlQuery& q) {
    return q.lastError().databaseText().trimmed().isEmpty()
               ? q.lastError().text().trimmed()
               : q.lastError().databaseText().trimmed();
}

// The version recorded on the server, 0 when the schema is missing; -1 on an error.
int ServerVersion(QSqlDatabase& db, QString& cause) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) || !q.next()) {
        cause = QueryError(q);
        return -1;
    }
    if (!q.value(0).toBool()) return 0;
    if (!q.exec(QStringLiteral("SELECT coalesce(max(version), 0) FROM schema_version")) ||
        !q.next()) {
        cause = QueryError(q);
        return -1;
    }
    return q.value(0).toInt();
}

// Runs `statements` in one transaction under the schema lock. With `creating`, nothing runs when
// the schema is there once the lock is held: another station made it meanwhile, and only the
// tables' owner may run the rights again.
bool RunInTransaction(QSqlDatabase& db, const QStringList& statements, QString& cause,
                      bool creating = false) {
    if (!db.transaction()) {
        cause = db.lastError().text().trimmed();
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec(QLatin1String(kSchemaLock))) {
        cause = QueryError(q);
        db.rollback();
        return false;
    }
    if (creating) {
        if (!q.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")) ||
            !q.next()) {
            cause = QueryError(q);
            db.rollback();
            return false;
        }
        if (q.value(0).toBool()) {  // the version is read again afterwards
            if (!db.commit()) db.rollback();
            return true;
        }
    }
    for (const QString& statement : statements) {
        if (!q.exec(statement)) {
            cause = QueryError(q);
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        cause = db.lastError().text().trimmed();
        db.rollback();
        return false;
    }
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

bool EnsureCentralSchema(QSqlDatabase& db, QString& cause) {
    int version = ServerVersion(db, cause);
    if (version < 0) return false;
    if (version == 0) {
        QString error;
        // The notices of the idempotent statements ("does not exist, skipping") are no news.
        const QStringList statements =
            QStringList{QStringLiteral("SET LOCAL client_min_messages = warning")} +
            CentralSchemaStatements() + CentralRolesStatements();
        if (!RunInTransaction(db, statements, error, true)) {
            cause = QStringLiteral("brak schematu bazy, a jego utworzenie się nie udało: ") + error;
            return false;
        }
        version = ServerVersion(db, cause);
        if (version < 0) return false;
    }
    if (version > kCentralSchemaVersion) {
        cause = QStringLiteral("schemat bazy ma wersję %1, nowszą niż zna program (%2)")
                    .arg(version)
                    .arg(kCentralSchemaVersion);
        return false;
    }
    // Later versions add their steps here, each run in one transaction with the version raised:
    // while (version < kCentralSchemaVersion) { RunInTransaction(db, Migration(version), ...); }
    return true;
}

}  // namespace central

#include "JournalFile.h"

#include <QSqlQuery>
#include <chrono>

namespace waga::journal {

namespace {
// The primary result codes of SQLite that the driver passes on as the native error code.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqlitePerm = 3;
constexpr int kSqliteNotADb = 26;
}  // namespace

JournalFault ClassifySqlError(const QSqlError& error) {
    if (error.type() == QSqlError::NoError) return JournalFault::None;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xFF;
    if (!ok) {
        // The driver leaves the code out of a failed commit; SQLite's message for each code is
        // fixed, so it tells the cause as well.
        static const struct {
            const char* text;
            JournalFault fault;
        } kMessages[] = {
            {"database or disk is full", JournalFault::DiskFull},
            {"readonly database", JournalFault::ReadOnly},
            {"unable to open database file", JournalFault::ReadOnly},
            {"database is locked", JournalFault::Locked},
            {"database table is locked", JournalFault::Locked},
            {"file is not a database", JournalFault::Damaged},
            {"database disk image is malformed", JournalFault::Damaged},
        };
        const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
        for (const auto& m : kMessages) {
            if (text.contains(QLatin1String(m.text), Qt::CaseInsensitive)) return m.fault;
        }
        return JournalFault::Other;
    }
    switch (code) {
        case kSqliteFull:
            return JournalFault::DiskFull;
        case kSqliteReadOnly:
        case kSqliteCantOpen:
        case kSqlitePerm:
            return JournalFault::ReadOnly;
        case kSqliteBusy:
        case kSqliteLocked:
            return JournalFault::Locked;
        case kSqliteCorrupt:
        case kSqliteNotADb:
            return JournalFault::Damaged;
        default:
            return JournalFault::Other;
    }
}

QString FaultText(JournalFault fault, const QString& detail) {
    switch (fault) {
        case JournalFault::None:
            return {};
        case JournalFault::DiskFull:
            return QStringLiteral("Brak miejsca na dysku. Zapis zostanie ponowiony.");
        case JournalFault::ReadOnly:
            return QStringLiteral(
                "Nie można zapisywać w folderze roboczym (tylko do odczytu). Zapis "
                "zostanie ponowiony.");
        case JournalFault::Locked:
            return QStringLiteral(
                "Plik dziennika jest zablokowany przez inny program. Zapis zostanie "
                "ponowiony.");
        case JournalFault::Damaged:
            return QStringLiteral(
                       "Plik dziennika był uszkodzony; odłożono go jako %1 "
                       "i założono nowy.")
                .arg(detail);
        case JournalFault::Other:
            return QStringLiteral("Błąd zapisu (%1). Zapis zostanie ponowiony.").arg(detail);
    }
    return {};
}

bool OpenJournalConnection(const QString& connection, const QString& path, bool writer,
                           QSqlError& error) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open()) {
        error = db.lastError();
        return false;
    }
    QSqlQuery query(db);
    // Reading the schema is the first access to the file: a file that is not a database fails
    // here.
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        error = query.lastError();
        return false;
    }
    if (writer) {
        if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
            !query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
            error = query.lastError();
            return false;
        }
    }
    return true;
}

bool CreateJournalTables(QSqlDatabase& db, QSqlError& error) {
    static const char* const kStatements[] = {
        "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)",
        "INSERT INTO schema_version(version) SELECT 1 WHERE NOT EXISTS "
        "(SELECT 1 FROM schema_version)",
        "CREATE TABLE IF NOT EXISTS lines("
        " seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, first_ms INTEGER NOT NULL,"
        " last_ms INTEGER NOT NULL, count INTEGER NOT NULL, text TEXT NOT NULL,"
        " raw BLOB NOT NULL, value REAL, unit TEXT NOT NULL, port TEXT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS lines_first_ms ON lines(first_ms)",
        "CREATE TABLE IF NOT EXISTS upload_state("
        " target TEXT PRIMARY KEY, acked_seq INTEGER NOT NULL, acked_count INTEGER NOT NULL,"
        " acked_last_ms INTEGER NOT NULL, updated_ms INTEGER NOT NULL)",
    };
    return InTransaction(db, error, [&db](QSqlError& failure) {
        QSqlQuery query(db);
        for (const char* statement : kStatements) {
            if (!query.exec(QString::fromLatin1(statement))) {
                failure = query.lastError();
                return false;
            }
        }
        return true;
    });
}

bool InTransaction(QSqlDatabase& db, QSqlError& error,
                   const std::function<bool(QSqlError& error)>& work) {
    if (!db.transaction()) {
        error = db.lastError();
        return false;
    }
    if (!work(error)) {
        db.rollback();
        return false;
    }
    if (db.commit()) return true;
    error = db.lastError();
    db.rollback();
    return false;
}

void CloseJournalConnection(const QString& connection) {
    {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (db.isValid()) db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

std::int64_t UtcNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace waga::journal

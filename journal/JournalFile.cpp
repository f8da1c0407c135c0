#include "JournalFile.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

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
// The native code RowStore gives a seq held by another line.
const QString kConflictCode = QStringLiteral("waga-seq-conflict");

std::atomic<int> connectionCounter{0};

QDir Folder(const QString& folder) { return QDir(folder.isEmpty() ? QDir::currentPath() : folder); }
}  // namespace

QString JournalPath(const QString& folder) {
    return Folder(folder).absoluteFilePath(QStringLiteral("dziennik.sqlite"));
}

QString SeqMarkPath(const QString& folder) {
    return Folder(folder).absoluteFilePath(QStringLiteral("dziennik.seq"));
}

QString UnsavedRowsPath(const QString& folder) {
    return Folder(folder).absoluteFilePath(QStringLiteral("dziennik.niezapisane"));
}

// ---- The connection ----

JournalDb::JournalDb()
    : name_(QStringLiteral("waga-journal-%1").arg(connectionCounter.fetch_add(1))) {}

JournalDb::~JournalDb() { Close(); }

bool JournalDb::Open(const QString& path, JournalAccess access) {
    if (OpenOnce(path, access, false)) return true;
    if (access != JournalAccess::Reader || !WantsImmutableRead(path)) return false;
    const QSqlError first = error_;
    if (OpenOnce(path, access, true)) return true;
    error_ = first;  // the cause of the usual way
    return false;
}

bool JournalDb::WantsImmutableRead(const QString& path) {
    const QFileInfo file(path);
    return file.exists() && !QFileInfo(file.absolutePath()).isWritable() &&
           !QFileInfo::exists(file.absoluteFilePath() + QStringLiteral("-wal"));
}

bool JournalDb::OpenOnce(const QString& path, JournalAccess access, bool immutable) {
    // SQLite's allocation statistics take a lock on every allocation and nothing here reads
    // them. They can be switched off only before SQLite's first connection in the process; a
    // later call changes nothing.
    static std::once_flag noStatistics;
    std::call_once(noStatistics, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    Close();
    error_ = QSqlError();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    added_ = true;
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (access == JournalAccess::Reader) options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    if (immutable) {
        // A URI, so that SQLite takes the parameter; the path percent-encoded in it.
        db.setDatabaseName(
            QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
            QStringLiteral("?immutable=1"));
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    } else {
        db.setDatabaseName(path);
    }
    db.setConnectOptions(options);
    if (!db.open()) {
        error_ = db.lastError();
        return false;
    }
    {
        QSqlQuery query(db);
        // Reading the schema is the first access to the file: a file that is not a database
        // fails here.
        bool ok = query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (ok && access == JournalAccess::Writer) {
            ok = query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) &&
                 query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        }
        if (!ok) {
            error_ = query.lastError();
            return false;
        }
    }
    if (access == JournalAccess::Writer && !CreateJournalTables(db, error_)) return false;
    open_ = true;
    return true;
}

void JournalDb::Close() {
    open_ = false;
    if (!added_) return;
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (db.isValid()) db.close();
    }
    QSqlDatabase::removeDatabase(name_);
    added_ = false;
}

QSqlDatabase JournalDb::Database() const { return QSqlDatabase::database(name_, false); }

bool JournalDb::SetBusyTimeout(int ms) {
    QSqlQuery query(Database());
    return query.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(std::max(ms, 0)));
}

bool BackupJournal(const QString& path, const QString& target, QString& error) {
    const QString journal = QFileInfo(path).absoluteFilePath();
    const QFileInfo copy(target);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const QFileInfo own(journal + QLatin1String(suffix));
        if (copy.absoluteFilePath() == own.absoluteFilePath() ||
            (copy.exists() && own.exists() &&
             copy.canonicalFilePath() == own.canonicalFilePath())) {
            error = QStringLiteral("Kopia nie może zastąpić pliku dziennika (%1).").arg(target);
            return false;
        }
    }
    if (!QFile::exists(path)) {
        error = QStringLiteral("Nie ma pliku dziennika %1.").arg(path);
        return false;
    }
    JournalDb db;
    if (!db.Open(path, JournalAccess::Reader)) {
        error =
            QStringLiteral("Nie można odczytać dziennika %1: %2").arg(path, db.LastError().text());
        return false;
    }
    const QString temporary =
        copy.absoluteFilePath() + QStringLiteral(".tmp-%1").arg(QCoreApplication::applicationPid());
    QFile::remove(temporary);
    bool ok = false;
    {
        QSqlQuery query(db.Database());
        ok = query.prepare(QStringLiteral("VACUUM INTO ?"));
        query.addBindValue(temporary);
        ok = ok && query.exec();
        if (!ok) {
            error = QStringLiteral("Nie można zapisać kopii %1: %2")
                        .arg(target, query.lastError().text());
        }
    }
    db.Close();
    // rename(2) replaces an older copy in one step.
    if (ok && std::rename(QFile::encodeName(temporary).constData(),
                          QFile::encodeName(copy.absoluteFilePath()).constData()) != 0) {
        error = QStringLiteral("Nie można zapisać kopii %1: %2")
                    .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        ok = false;
    }
    if (!ok) QFile::remove(temporary);
    return ok;
}

bool InWriteTransaction(QSqlDatabase& db, QSqlError& error,
                        const std::function<bool(QSqlError& error)>& work) {
    QSqlQuery control(db);
    if (!control.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        error = control.lastError();
        return false;
    }
    if (work(error) && control.exec(QStringLiteral("COMMIT"))) return true;
    if (control.lastError().isValid()) error = control.lastError();
    control.exec(QStringLiteral("ROLLBACK"));
    return false;
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
        // The central upload's acknowledged position (central/UploadBatch.h).
        "CREATE TABLE IF NOT EXISTS upload_state("
        " target TEXT PRIMARY KEY, acked_seq INTEGER NOT NULL, acked_count INTEGER NOT NULL,"
        " acked_last_ms INTEGER NOT NULL, updated_ms INTEGER NOT NULL)",
    };
    return InWriteTransaction(db, error, [&db](QSqlError& failure) {
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

bool ReadHighestSeq(QSqlDatabase& db, std::optional<std::int64_t>& highest, QSqlError& error) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT max(seq) FROM lines")) || !query.next()) {
        error = query.lastError();
        if (!error.isValid()) {
            error = QSqlError(QStringLiteral("brak wyniku max(seq)"), QString(),
                              QSqlError::StatementError);
        }
        return false;
    }
    const QVariant value = query.value(0);
    highest.reset();
    if (!value.isNull()) highest = value.toLongLong();
    return true;
}

// ---- Rows ----

QString ColumnList(RowColumns columns) {
    return columns == RowColumns::All
               ? QStringLiteral("seq, kind, first_ms, last_ms, count, text, raw, value, unit, port")
               : QStringLiteral("seq, first_ms, last_ms, count, value");
}

namespace {

// One column of a row: the value checked against what the table holds there.
class RowReader {
  public:
    RowReader(const QSqlQuery& query, QString& problem) : query_(query), problem_(problem) {}

    bool Integer(int column, const char* name, std::int64_t& out) {
        const QVariant v = query_.value(column);
        if (v.isNull() || v.typeId() != QMetaType::LongLong) return Bad(name, v);
        out = v.toLongLong();
        return true;
    }
    bool Text(int column, const char* name, std::string& out) {
        const QVariant v = query_.value(column);
        if (v.isNull() || v.typeId() != QMetaType::QString) return Bad(name, v);
        const QByteArray utf8 = v.toString().toUtf8();
        out.assign(utf8.constData(), std::size_t(utf8.size()));
        return true;
    }
    bool Bytes(int column, const char* name, std::string& out) {
        const QVariant v = query_.value(column);
        if (v.isNull() || v.typeId() != QMetaType::QByteArray) return Bad(name, v);
        const QByteArray bytes = v.toByteArray();
        out.assign(bytes.constData(), std::size_t(bytes.size()));
        return true;
    }
    bool Number(int column, const char* name, std::optional<double>& out) {
        const QVariant v = query_.value(column);
        out.reset();
        if (v.isNull()) return true;
        if (v.typeId() != QMetaType::Double && v.typeId() != QMetaType::LongLong) {
            return Bad(name, v);
        }
        const double number = v.toDouble();
        if (!std::isfinite(number)) {
            problem_ = QStringLiteral("kolumna %1: „%2” nie jest liczbą skończoną")
                           .arg(QString::fromLatin1(name), v.toString());
            return false;
        }
        out = number;
        return true;
    }
    bool Kind(int column, JournalKind& out) {
        std::string name;
        if (!Text(column, "kind", name)) return false;
        const auto kind = JournalKindFromName(name);
        if (!kind) {
            problem_ = QStringLiteral("nieznany rodzaj „%1”").arg(QString::fromStdString(name));
            return false;
        }
        out = *kind;
        return true;
    }
    bool Count(int column, std::int64_t& out) {
        if (!Integer(column, "count", out)) return false;
        if (out >= 1) return true;
        problem_ = QStringLiteral("liczba linii %1 (co najmniej 1)").arg(out);
        return false;
    }

  private:
    bool Bad(const char* name, const QVariant& v) {
        problem_ =
            v.isNull()
                ? QStringLiteral("brak wartości w kolumnie %1").arg(QString::fromLatin1(name))
                : QStringLiteral("kolumna %1 ma wartość „%2” innego typu")
                      .arg(QString::fromLatin1(name), v.toString().left(40));
        return false;
    }

    const QSqlQuery& query_;
    QString& problem_;
};

}  // namespace

bool RowFromQuery(const QSqlQuery& query, RowColumns columns, JournalRow& row, QString& problem) {
    RowReader read(query, problem);
    bool ok = read.Integer(0, "seq", row.seq);
    if (ok && columns == RowColumns::All) {
        ok = read.Kind(1, row.kind) && read.Integer(2, "first_ms", row.firstMs) &&
             read.Integer(3, "last_ms", row.lastMs) && read.Count(4, row.count) &&
             read.Text(5, "text", row.text) && read.Bytes(6, "raw", row.raw) &&
             read.Number(7, "value", row.value) && read.Text(8, "unit", row.unit) &&
             read.Text(9, "port", row.port);
    } else if (ok) {
        ok = read.Integer(1, "first_ms", row.firstMs) && read.Integer(2, "last_ms", row.lastMs) &&
             read.Count(3, row.count) && read.Number(4, "value", row.value);
    }
    if (!ok) problem = QStringLiteral("wiersz %1: %2").arg(query.value(0).toString(), problem);
    return ok;
}

// The upsert is run through SQLite's own prepared statements on the connection Qt opened: binding
// ten values a row through Qt's query costs more than SQLite's whole insert. Rows go kGroupRows to
// a statement, which takes a third off SQLite's time a row; the rest go one by one.
namespace {
constexpr int kGroupRows = 32;
constexpr int kColumns = 10;
}  // namespace

struct RowStore::Statement {
    sqlite3* db = nullptr;
    sqlite3_stmt* one = nullptr;
    sqlite3_stmt* group = nullptr;
    ~Statement() {
        sqlite3_finalize(one);
        sqlite3_finalize(group);
    }
};

namespace {
QSqlError SqliteError(sqlite3* db, const QString& what) {
    return QSqlError(what, QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                     QString::number(sqlite3_extended_errcode(db)));
}

std::string UpsertSql(int rows) {
    std::string sql =
        "INSERT INTO lines(seq, kind, first_ms, last_ms, count, text, raw, value, unit, port)"
        " VALUES";
    for (int i = 0; i < rows; ++i)
        sql += i == 0 ? "(?,?,?,?,?,?,?,?,?,?)" : ",(?,?,?,?,?,?,?,?,?,?)";
    sql +=
        " ON CONFLICT(seq) DO UPDATE SET"
        " last_ms = max(last_ms, excluded.last_ms), count = max(count, excluded.count)"
        " WHERE kind = excluded.kind AND first_ms = excluded.first_ms AND raw = excluded.raw";
    return sql;
}

// Binds the row as the statement's values from `first` on; the strings stay the row's.
void BindRow(sqlite3_stmt* q, int first, const JournalRow& r, std::int64_t seq) {
    const std::string_view kind = JournalKindName(r.kind);
    const auto text = [&](int index, const std::string& value) {
        sqlite3_bind_text(q, first + index, value.data(), static_cast<int>(value.size()),
                          SQLITE_STATIC);
    };
    sqlite3_bind_int64(q, first, seq);
    sqlite3_bind_text(q, first + 1, kind.data(), static_cast<int>(kind.size()), SQLITE_STATIC);
    sqlite3_bind_int64(q, first + 2, r.firstMs);
    sqlite3_bind_int64(q, first + 3, r.lastMs);
    sqlite3_bind_int64(q, first + 4, r.count);
    text(5, r.text);
    // Never NULL: an empty line's bytes are an empty blob.
    sqlite3_bind_blob(q, first + 6, r.raw.empty() ? "" : r.raw.data(),
                      static_cast<int>(r.raw.size()), SQLITE_STATIC);
    if (r.value) {
        sqlite3_bind_double(q, first + 7, *r.value);
    } else {
        sqlite3_bind_null(q, first + 7);
    }
    text(8, r.unit);
    text(9, r.port);
}

// Runs the bound statement for the rows `first` to `last`; the rows it changed, or -1 when it
// failed (`error` says why, naming them).
int Step(sqlite3* db, sqlite3_stmt* q, std::int64_t first, std::int64_t last, QSqlError& error) {
    const int step = sqlite3_step(q);
    const int changes = sqlite3_changes(db);
    if (step != SQLITE_DONE) {
        error = SqliteError(db, first == last ? QStringLiteral("seq %1").arg(first)
                                              : QStringLiteral("seq %1–%2").arg(first).arg(last));
    }
    sqlite3_reset(q);
    sqlite3_clear_bindings(q);  // nothing bound stays pointing at the rows' strings
    return step == SQLITE_DONE ? changes : -1;
}
}  // namespace

RowStore::RowStore() = default;
RowStore::~RowStore() = default;

bool RowStore::Prepare(const QSqlDatabase& db, QSqlError& error) {
    Clear();
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0 ||
        *static_cast<sqlite3* const*>(handle.constData()) == nullptr) {
        error = QSqlError(QStringLiteral("dziennik"),
                          QStringLiteral("połączenie nie jest otwartym plikiem SQLite"),
                          QSqlError::ConnectionError);
        return false;
    }
    auto statement = std::make_unique<Statement>();
    statement->db = *static_cast<sqlite3* const*>(handle.constData());
    for (auto [rows, target] : {std::pair{1, &statement->one}, {kGroupRows, &statement->group}}) {
        if (sqlite3_prepare_v3(statement->db, UpsertSql(rows).c_str(), -1,
                               SQLITE_PREPARE_PERSISTENT, target, nullptr) != SQLITE_OK) {
            error = SqliteError(statement->db, QStringLiteral("prepare"));
            return false;
        }
    }
    statement_ = std::move(statement);
    return true;
}

bool RowStore::Apply(const JournalOp& op, std::int64_t seq, QSqlError& error) {
    BindRow(statement_->one, 1, op.row, seq);
    const int changes = Step(statement_->db, statement_->one, seq, seq, error);
    if (changes < 0) return false;
    if (changes == 1) return true;
    error =
        QSqlError(QStringLiteral("seq %1").arg(seq), QStringLiteral("the seq holds another line"),
                  QSqlError::StatementError, kConflictCode);
    return false;
}

bool RowStore::ApplyAll(std::span<const Numbered> ops, QSqlError& error) {
    std::size_t done = 0;
    for (; ops.size() - done >= kGroupRows; done += kGroupRows) {
        const auto group = ops.subspan(done, kGroupRows);
        for (int i = 0; i < kGroupRows; ++i) {
            BindRow(statement_->group, 1 + i * kColumns, group[i].op->row, group[i].seq);
        }
        const int changes =
            Step(statement_->db, statement_->group, group.front().seq, group.back().seq, error);
        if (changes < 0) return false;
        if (changes == kGroupRows) continue;
        // A seq of the group holds another line: one by one, its rows already in change nothing
        // and the refused one is named.
        for (const Numbered& n : group) {
            if (!Apply(*n.op, n.seq, error)) return false;
        }
    }
    for (const Numbered& n : ops.subspan(done)) {
        if (!Apply(*n.op, n.seq, error)) return false;
    }
    return true;
}

void RowStore::Clear() { statement_.reset(); }

// ---- Faults ----

JournalFault ClassifySqlError(const QSqlError& error) {
    if (error.type() == QSqlError::NoError) return JournalFault::None;
    if (error.nativeErrorCode() == kConflictCode) return JournalFault::Conflict;
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
                "Plik dziennika jest zablokowany przez inny program. Zapis "
                "zostanie ponowiony.");
        case JournalFault::Damaged:
            return QStringLiteral(
                       "Plik dziennika był uszkodzony; odłożono go jako %1 "
                       "i założono nowy.")
                .arg(detail);
        case JournalFault::Conflict:
            return QStringLiteral(
                       "Numer wiersza (%1) jest już w pliku dziennika przy innej linii; nic "
                       "nie scalono. Zapis zostanie ponowiony.")
                .arg(detail);
        case JournalFault::Other:
            return QStringLiteral("Błąd zapisu (%1). Zapis zostanie ponowiony.").arg(detail);
    }
    return {};
}

void TellOnStandardError(const QString& text) {
    const QString program = QCoreApplication::instance() != nullptr
                                ? QCoreApplication::applicationName()
                                : QStringLiteral("Project1");
    std::fprintf(stderr, "%s\n",
                 (program + QStringLiteral(": Dziennik: ") + text).toLocal8Bit().constData());
    std::fflush(stderr);
}

std::int64_t UtcNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace waga::journal

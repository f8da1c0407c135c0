#include "JournalConnection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "JournalSchema.h"
#include "JournalTexts.h"
#include "OwnFile.h"

namespace waga::journal {

namespace {
std::atomic<int> connectionCounter{0};

QDir Folder(const QString& folder) { return QDir(folder.isEmpty() ? QDir::currentPath() : folder); }

constexpr const char* kCompanions[] = {"", "-wal", "-shm", "-journal"};
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

QSqlError RefusedJournalFile(const QString& path) {
    for (const char* suffix : kCompanions) {
        const QString refusal = OwnFileRefusal(path + QLatin1String(suffix));
        if (!refusal.isEmpty()) {
            return QSqlError(refusal, QString(), QSqlError::ConnectionError,
                             QLatin1String(kRefusedCode));
        }
    }
    return {};
}

// ---- The connection ----

JournalDb::JournalDb()
    : name_(QStringLiteral("waga-journal-%1").arg(connectionCounter.fetch_add(1))) {}

JournalDb::~JournalDb() { Close(); }

bool JournalDb::Open(const QString& path, JournalAccess access) {
    Close();
    error_ = RefusedJournalFile(path);
    if (error_.isValid()) return false;
    if (access == JournalAccess::Writer) {
        // The firm's weighings: readable by the owner alone, whatever the umask. A new file is
        // made here, empty and without being opened (nothing but SQLite opens these files:
        // closing another descriptor would drop its locks), so that SQLite finds it with that
        // mode and gives its -wal and -shm files the same. mknod makes no file through a link.
        ::mknod(QFile::encodeName(path).constData(), S_IFREG | 0600, 0);
        for (const char* suffix : kCompanions) KeepOwnerOnly(path + QLatin1String(suffix));
    }
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

bool JournalDb::SetBusyTimeout(int ms) { return waga::journal::SetBusyTimeout(Database(), ms); }

bool SetBusyTimeout(const QSqlDatabase& db, int ms) {
    QSqlQuery query(db);
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

}  // namespace waga::journal

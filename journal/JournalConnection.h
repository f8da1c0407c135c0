#pragma once
// dziennik.sqlite through Qt's SQLite driver: the one place that names the journal's files and
// sets up a connection to it (the writer's and every reader's: the history window, the weight
// service, the central upload, waga-journal), runs a transaction that may write, and copies the
// file.
//
// Nothing else in the process may open these files: on Linux closing any descriptor of a file
// drops every POSIX lock the process holds on it, SQLite's included, and another process could
// then delete the write-ahead log or write at the same time. (SQLite itself shares its
// descriptors between the connections of one process.) The file dialogs name types by extension
// only for this reason (ui/ExtensionIconProvider).

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <cstdint>
#include <functional>

namespace waga::journal {

// The journal in `folder` (the working directory when empty), as an absolute path.
QString JournalPath(const QString& folder = QString());
// Beside it, neither of them a database: the mark of the sequence numbers handed out
// (SeqMark.h) and the rows a close could not store (UnsavedRows.h).
QString SeqMarkPath(const QString& folder = QString());
QString UnsavedRowsPath(const QString& folder = QString());

enum class JournalAccess : std::uint8_t {
    Writer,  // creates the file (0600) when missing, turns WAL on, creates the tables
    // Read-only: never turns WAL on, never writes. A journal in WAL mode needs its -shm file to
    // be read, which SQLite makes beside it while no one has the file open; in a folder this
    // process cannot write, with no -wal file beside the journal (so no program is writing it),
    // the file is read as immutable instead (SQLite's immutable=1: no locks, no -shm). Were the
    // program to start writing it during such a read, the read could fail or miss the newest
    // rows; run it again then. With a -wal file beside it the usual read-only way is the only
    // one (it needs a -shm file that is there already, as while the program runs).
    Reader,
};

// One connection to a journal file, used on the thread that opened it. Every connection waits
// the same time for another's lock. The file and its companions (-wal, -shm, -journal) are
// looked at before each open: one that is a symbolic link, a folder or no plain file is refused
// (OwnFile.h), named in the error (JournalFault::Refused); the Qt 6.4 driver has no way to ask
// SQLite not to follow links itself.
class JournalDb {
  public:
    static constexpr int kBusyTimeoutMs = 2000;

    JournalDb();
    ~JournalDb();
    JournalDb(const JournalDb&) = delete;
    JournalDb& operator=(const JournalDb&) = delete;

    // False with LastError() when the file is refused, cannot be opened, is not a database, or
    // (Writer) its tables cannot be made. Closes an open connection first.
    bool Open(const QString& path, JournalAccess access);
    // Every query on the connection must be gone.
    void Close();
    bool IsOpen() const { return open_; }
    QSqlDatabase Database() const;
    const QSqlError& LastError() const { return error_; }
    // How long statements wait for another connection's lock from now on (a bounded last
    // attempt at a close); false when the connection refused it.
    bool SetBusyTimeout(int ms);

  private:
    bool OpenOnce(const QString& path, JournalAccess access, bool immutable);
    static bool WantsImmutableRead(const QString& path);

    QString name_;
    bool added_ = false;
    bool open_ = false;
    QSqlError error_;
};

// How long statements on `db` wait for another connection's lock from now on.
bool SetBusyTimeout(const QSqlDatabase& db, int ms);

// The refusal of the journal at `path` or one of its companions (OwnFile.h), as a failed
// statement's error (JournalFault::Refused); no error when every one is a plain file or missing.
QSqlError RefusedJournalFile(const QString& path);

// Writes a copy of the journal at `path` to `target` that holds every row committed when it
// began, also while the program writes (SQLite's VACUUM INTO on a reader's connection), as one
// file with no write-ahead log. It goes to a temporary file beside `target` that then replaces
// it. False with `error` (Polish); `target` must not be the journal or one of its files.
bool BackupJournal(const QString& path, const QString& target, QString& error);

// Runs `work` in one transaction that takes the write lock at its start (BEGIN IMMEDIATE, so
// that no read in it can meet another writer's newer rows): committed when `work` and the commit
// succeed, rolled back otherwise, with the cause in `error` (`work` sets it when it fails).
bool InWriteTransaction(QSqlDatabase& db, QSqlError& error,
                        const std::function<bool(QSqlError& error)>& work);

}  // namespace waga::journal

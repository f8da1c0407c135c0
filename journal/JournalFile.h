#pragma once
// dziennik.sqlite through Qt's SQLite driver. The one place that names the journal's files, sets
// up a connection to it (the writer's and every reader's: the history window, the weight service,
// the central upload, waga-journal), creates its tables, runs a transaction that may write, makes
// a JournalRow of a query's row and stores row operations, and tells what a failed statement
// means for the operator.
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
#include <memory>
#include <optional>
#include <span>

#include "JournalRows.h"

class QSqlQuery;

namespace waga::journal {

// The journal in `folder` (the working directory when empty), as an absolute path.
QString JournalPath(const QString& folder = QString());
// Beside it, neither of them a database: the mark of the sequence numbers handed out
// (SeqMark.h) and the rows a close could not store (UnsavedRows.h).
QString SeqMarkPath(const QString& folder = QString());
QString UnsavedRowsPath(const QString& folder = QString());

enum class JournalAccess : std::uint8_t {
    Writer,  // creates the file when missing, turns WAL on, creates the tables
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
// the same time for another's lock.
class JournalDb {
  public:
    static constexpr int kBusyTimeoutMs = 2000;

    JournalDb();
    ~JournalDb();
    JournalDb(const JournalDb&) = delete;
    JournalDb& operator=(const JournalDb&) = delete;

    // False with LastError() when the file cannot be opened, is not a database, or (Writer) its
    // tables cannot be made. Closes an open connection first.
    bool Open(const QString& path, JournalAccess access);
    // Every query on the connection must be gone.
    void Close();
    bool IsOpen() const { return open_; }
    QSqlDatabase Database() const;
    const QSqlError& LastError() const { return error_; }
    // How long statements wait for another connection's lock from now on (a bounded last
    // attempt); false when the connection refused it.
    bool SetBusyTimeout(int ms);

  private:
    bool OpenOnce(const QString& path, JournalAccess access, bool immutable);
    static bool WantsImmutableRead(const QString& path);

    QString name_;
    bool added_ = false;
    bool open_ = false;
    QSqlError error_;
};

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
// Creates the tables (lines, upload_state, schema_version) when missing.
bool CreateJournalTables(QSqlDatabase& db, QSqlError& error);
// The highest seq in the file; nullopt in `highest` when it has no rows.
bool ReadHighestSeq(QSqlDatabase& db, std::optional<std::int64_t>& highest, QSqlError& error);

// The columns a query selects, in this order, for RowFromQuery: the whole row, or what a plot
// needs (the times, the count and the value; the kind is the query's condition).
enum class RowColumns : std::uint8_t { All, Span };
QString ColumnList(RowColumns columns);
// Makes `row` of the query's current row. A row that does not make sense (a kind the journal
// does not know, NULL or a value of another type where the table has none, a count below one, a
// value that is not a finite number) is not changed into one that does: false, with `problem`
// in Polish naming the row and the column. For Span, `row.kind` is left as the caller set it.
bool RowFromQuery(const QSqlQuery& query, RowColumns columns, JournalRow& row, QString& problem);

// Stores row operations on one connection, with prepared statements: a row is inserted, or,
// when its seq is there already as the same line (kind, first time and bytes), its count and last
// time grow to the operation's. Storing an operation twice therefore changes nothing, and a seq
// held by another line is refused (never merged), with the seq in the error.
class RowStore {
  public:
    // An operation and the number its row is stored under.
    struct Numbered {
        const JournalOp* op;
        std::int64_t seq;
    };

    RowStore();
    ~RowStore();
    bool Prepare(const QSqlDatabase& db, QSqlError& error);
    bool Apply(const JournalOp& op, std::int64_t seq, QSqlError& error);
    // Each operation in order, as Apply would, several rows to a statement. After a refusal the
    // earlier rows may be stored: the caller's transaction is rolled back.
    bool ApplyAll(std::span<const Numbered> ops, QSqlError& error);
    void Clear();

  private:
    struct Statement;
    std::unique_ptr<Statement> statement_;
};

// Why the journal cannot write, as the operator is told.
enum class JournalFault : std::uint8_t {
    None,
    DiskFull,
    ReadOnly,
    Locked,
    Damaged,
    Conflict,
    Other
};

JournalFault ClassifySqlError(const QSqlError& error);
// The Polish message the main window shows after "Dziennik: " in the status bar's tooltip and
// on standard error.
QString FaultText(JournalFault fault, const QString& detail);
// One line "<program>: Dziennik: <text>" on standard error, for what happens where no window
// can show it (the close).
void TellOnStandardError(const QString& text);

// The UTC clock in microseconds.
std::int64_t UtcNowUs();

}  // namespace waga::journal

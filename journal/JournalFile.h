#pragma once
// Opening dziennik.sqlite through Qt's SQLite driver: the connection's settings, the tables, and
// what a failed statement means for the operator.

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <cstdint>
#include <functional>

namespace waga::journal {

inline constexpr char kJournalFileName[] = "dziennik.sqlite";

// Why the journal cannot write, as the operator is told.
enum class JournalFault : std::uint8_t { None, DiskFull, ReadOnly, Locked, Damaged, Other };

JournalFault ClassifySqlError(const QSqlError& error);
// The Polish message the main window shows after "Dziennik: " in the status bar's tooltip and
// on standard error.
QString FaultText(JournalFault fault, const QString& detail);

// Adds a QSQLITE connection named `connection` for `path` with the busy timeout, opens it and
// sets WAL and synchronous=NORMAL (the latter two only when `writer`). The error is in
// `error` when it returns false; the connection stays added (the caller removes it).
bool OpenJournalConnection(const QString& connection, const QString& path, bool writer,
                           QSqlError& error);
// Runs `work` in one transaction on `db`: committed when `work` and the commit succeed, rolled
// back otherwise, with the cause in `error` (`work` sets it when it fails).
bool InTransaction(QSqlDatabase& db, QSqlError& error,
                   const std::function<bool(QSqlError& error)>& work);
// Creates the tables when missing.
bool CreateJournalTables(QSqlDatabase& db, QSqlError& error);
// Removes a connection added by OpenJournalConnection (after every query on it is gone).
void CloseJournalConnection(const QString& connection);

// The UTC clock in microseconds: the first seq of a journal that starts with no rows.
std::int64_t UtcNowUs();

}  // namespace waga::journal

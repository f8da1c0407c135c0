#pragma once
// The standard PostgreSQL password file (PGPASSFILE, or ~/.pgpass). The program never keeps the
// password itself: the window writes the operator's entry here (mode 0600) and the driver reads
// it on every connection, so a corrected password works without a restart.

#include <QString>

namespace central {

// The file libpq reads: $PGPASSFILE when set, otherwise ~/.pgpass.
QString PgPassFilePath();

// One entry "host:port:database:user:password" with ':' and '\' escaped.
QString PgPassLine(const QString& host, int port, const QString& database, const QString& user,
                   const QString& password);

// `existing` with the entry for host, port, database and user replaced by (or added as)
// `line`; every other line stays as it was.
QString WithPgPassEntry(const QString& existing, const QString& line);

// Writes the entry into `path` (created or replaced atomically, mode 0600). False with `error`.
bool StorePgPassEntry(const QString& path, const QString& host, int port, const QString& database,
                      const QString& user, const QString& password, QString& error);

}  // namespace central

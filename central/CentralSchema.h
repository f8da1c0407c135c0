#pragma once
// The central schema's version, checked on every connection. The administrator makes the schema
// and moves it to a new version (central/schema.sql, central/roles.sql, central/migrate-N.sql;
// doc/central-server.md): a station owns nothing and creates nothing there.

#include <QString>

#include "PgLink.h"

namespace central {

inline constexpr int kCentralSchemaVersion = 2;

// True when the server holds the schema of kCentralSchemaVersion. False with `cause` (Polish
// where it is ours, the server's words otherwise) when it is missing, of another version, or
// the server did not answer by `deadline`; the caller tries again later.
bool EnsureCentralSchema(PgLink& link, PgDeadline deadline, QString& cause);

}  // namespace central

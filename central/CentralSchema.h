#pragma once
// The central schema: created on the first connection when it is missing and the role may create
// it (with the rights and row policies of central/roles.sql, in the same transaction), migrated
// when it is older than the program's, refused when it is newer.

#include <QString>
#include <QStringList>

#include "PgLink.h"

namespace central {

inline constexpr int kCentralSchemaVersion = 1;

// The statements of central/schema.sql and of central/roles.sql, one per element, in order.
QStringList CentralSchemaStatements();
QStringList CentralRolesStatements();

// Makes sure the schema of kCentralSchemaVersion is there. False with `cause` (Polish where it
// is ours, the server's words otherwise) when it is missing and cannot be created, is newer than
// this program knows, or the server did not answer by `deadline`.
bool EnsureCentralSchema(PgLink& link, PgDeadline deadline, QString& cause);

}  // namespace central

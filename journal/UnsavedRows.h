#pragma once
// The rows a close could not store in the journal (its file locked by another process, say):
// kept beside it in dziennik.niezapisane, which the next start stores in the journal and then
// removes. Storing a row twice changes nothing (RowStore), so a file stored but not yet removed
// does no harm.

#include <QString>
#include <vector>

#include "JournalRows.h"

namespace waga::journal {

// Writes `ops` whole to a temporary file, synced, then renamed over `path`.
bool WriteUnsavedRows(const QString& path, const std::vector<JournalOp>& ops, QString& error);
// Reads the file: `ops` stays empty when there is none. False with `error` (Polish) when it is
// there but cannot be read or is not such a file.
bool ReadUnsavedRows(const QString& path, std::vector<JournalOp>& ops, QString& error);

}  // namespace waga::journal

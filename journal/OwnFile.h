#pragma once
// The journal's own files (dziennik.sqlite and its -wal, -shm and -journal companions,
// dziennik.seq, dziennik.niezapisane) are never reached through a symbolic link and are made
// readable by their owner alone (0600), whatever the umask: the working folder may be shared
// (/srv/waga, a WAGA_DIR under /tmp), and a link planted there would otherwise let whoever can
// write the folder have the program overwrite any file the operator can write. A refusal names
// the file. The day's recording file is not one of them: the operator chooses its path.

#include <QByteArray>
#include <QString>

namespace waga::journal {

// Empty when `path` is missing or a regular file; otherwise why it is refused (Polish, naming
// the file): a symbolic link, a folder, or something else that is not a plain file. Looks at
// the name itself (lstat), never at what a link points to.
QString OwnFileRefusal(const QString& path);

// Reads the whole file (at most `limit` bytes) without following a link. `missing` when there is
// none. False with `error` (Polish, naming the file) otherwise.
bool ReadOwnFile(const QString& path, qint64 limit, QByteArray& bytes, bool& missing,
                 QString& error);

// Replaces `path` with `bytes` as a whole: written to a new file beside it (created 0600,
// exclusively, never through a link), synced, then renamed over it. A link, folder or other
// non-file at `path` is refused, never replaced through. False with `error` (Polish).
bool WriteOwnFile(const QString& path, const QByteArray& bytes, QString& error);

// Gives an existing plain file mode 0600 (a link is left alone); true when it has it now or
// there is no file.
bool KeepOwnerOnly(const QString& path);

}  // namespace waga::journal

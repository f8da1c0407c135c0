#pragma once
// One batch of journal rows on its way to the central database: the rows read from the journal
// (through the journal module, which refuses a row it cannot make sense of), and the one
// statement that stores them.
// The statement is an upsert on (station, seq) whose count and last_at only ever grow, so
// sending a batch again, or a run that grew since, never doubles or lowers anything.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

#include "JournalRows.h"

class QSqlDatabase;

namespace central {

// Where the upload stands: the highest seq stored centrally and that row's count and last_ms
// when it was stored (the row may have grown since).
struct AckedPosition {
    qint64 seq = 0;
    qint64 count = 0;
    qint64 lastMs = 0;
    bool operator==(const AckedPosition&) const = default;
};

inline constexpr int kMaxBatchRows = 1000;
// A batch also ends before its received bytes pass this (lines may be up to 1 MiB each).
inline constexpr qint64 kMaxBatchBytes = 8 * 1024 * 1024;

// SQL literals that hold any content: text as E'...' without NUL characters (PostgreSQL text
// cannot hold them; the received bytes keep them), bytes as decode('hex', ...).
QString PgTextLiteral(const QString& text);
QString PgByteaLiteral(const QByteArray& bytes);

// The upsert of `rows` for `station` (rows must not be empty).
QString UpsertStatement(const QString& station, const std::vector<JournalRow>& rows);

// Reads, from the journal connection `journal`, the rows still to send after `acked`: the acked
// row again when its count or last_ms changed, then the rows with a higher seq, in seq order, at
// most kMaxBatchRows and about kMaxBatchBytes; a batch ends before a row that does not make
// sense. False with `error` when the file cannot be read or the first row does not make sense
// (sending it changed, or skipping it, would lose it centrally).
bool ReadPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                     std::vector<JournalRow>& rows, QString& error);

// How many rows are still to send after `acked` (the acked row counts when it grew).
std::optional<qint64> CountPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                                       QString& error);

// The acknowledged position kept in the journal's upload_state under `target` (the journal
// module makes the table). A missing row is position 0; a value that is not a number is an
// error.
bool LoadAckedPosition(QSqlDatabase& journal, const QString& target, AckedPosition& acked,
                       QString& error);
bool SaveAckedPosition(QSqlDatabase& journal, const QString& target, const AckedPosition& acked,
                       qint64 nowMs, QString& error);

}  // namespace central

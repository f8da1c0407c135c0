#pragma once
// One batch of journal rows on its way to the central database: the rows read from the journal
// (through the journal module, which refuses a row it cannot make sense of), the parameters that
// carry them and the statements that store them, and the acknowledged position.
// Storing is an upsert on (station, seq) whose count and last_at only ever grow, so sending a
// batch again, or a run that grew since, never doubles or lowers anything; and it never merges
// a row into another line that holds the same seq centrally.

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "JournalRows.h"
#include "JournalTables.h"
#include "JournalTexts.h"

namespace central {

// Where the upload stands (the journal keeps it in upload_state).
using waga::journal::AckedPosition;

inline constexpr int kMaxBatchRows = 5000;
// A batch also ends before its received bytes pass this (lines may be up to 1 MiB each).
inline constexpr qint64 kMaxBatchBytes = 8 * 1024 * 1024;

// The statement that stores a batch, sent alone with the batch's rows as its parameters
// (BatchParameters: the station, then one array per column), so that it keeps nothing on the
// connection between batches and goes through a transaction pooler as it goes to the server. It
// runs as one implicit transaction: a new (station, seq) is inserted; one that is there already
// grows (count and last_at, never lowered) when it is the same line (kind, first_at, raw and
// text). A row held by another line makes the statement fail (not_null_violation on count, all
// of the batch rolled back); kConflictingRow then tells which. Its result is one number: the
// rows inserted or grown.
extern const char* const kStoreBatch;
inline constexpr const char* kHeldByAnotherLineState = "23502";
// The first row of the batch (the same parameters) whose (station, seq) is held centrally by
// another line: seq, kind, text and first_at in ms of the central row.
extern const char* const kConflictingRow;

// The parameters of kStoreBatch and kConflictingRow for `station`'s `rows`: PostgreSQL's binary
// forms, with their types. Texts lose NUL characters, which PostgreSQL's text cannot hold (raw
// keeps every byte).
struct BatchParameters {
    std::vector<unsigned> oids;
    std::vector<QByteArray> values;
};
BatchParameters BatchArrays(const QString& station, const std::vector<JournalRow>& rows);

// What a failed statement on the journal means, and what reading the rows to send gave: as the
// journal module tells them.
using waga::journal::JournalErrorText;
using waga::journal::ReadOutcome;

// The journal as the uploader reads and marks it, on one connection (used on its thread), with
// its statements prepared once: the functions below, for a connection kept open. Every read is
// ended before a call returns, so that the journal's writer can always checkpoint.
class JournalOutbox {
  public:
    explicit JournalOutbox(const QSqlDatabase& journal);
    ~JournalOutbox();
    JournalOutbox(const JournalOutbox&) = delete;
    JournalOutbox& operator=(const JournalOutbox&) = delete;

    ReadOutcome ReadPending(const AckedPosition& acked, std::vector<JournalRow>& rows,
                            QString& error);
    std::optional<qint64> CountPending(const AckedPosition& acked, QString& error);
    bool LoadAcked(const QString& target, AckedPosition& acked, QString& error,
                   qint64* savedMs = nullptr);
    bool SaveAcked(const QString& target, const AckedPosition& acked, qint64 nowMs, QString& error);
    // At a close: a statement waits only briefly for another connection's lock.
    void SetClosing() { journal_.SetClosing(); }

  private:
    waga::journal::UploadOutbox journal_;
};

// Reads, from the journal connection `journal`, the rows still to send after `acked`: the acked
// row again when its count or last_ms changed, then the rows with a higher seq, in seq order, at
// most kMaxBatchRows and about kMaxBatchBytes; a batch ends before a row that does not make
// sense. Unreadable (with `error`) when the file cannot be read; Malformed (with `error` naming
// the row and why) when the first row does not make sense: sending it changed, or skipping it,
// would lose it centrally.
ReadOutcome ReadPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                            std::vector<JournalRow>& rows, QString& error);

// How many rows are still to send after `acked` (the acked row counts when it grew).
std::optional<qint64> CountPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                                       QString& error);

// The acknowledged position kept in the journal's upload_state under `target` (the journal
// module makes the table). A missing row is position 0; a value that is not a number is an
// error.
// `savedMs` (optional) gets when the position was saved (0: never).
bool LoadAckedPosition(QSqlDatabase& journal, const QString& target, AckedPosition& acked,
                       QString& error, qint64* savedMs = nullptr);
bool SaveAckedPosition(QSqlDatabase& journal, const QString& target, const AckedPosition& acked,
                       qint64 nowMs, QString& error);

}  // namespace central

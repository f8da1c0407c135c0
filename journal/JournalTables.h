#pragma once
// Every query on the journal's tables that the journal's users run: the writer's highest seq and
// deletion of old rows, the rows after a seq a page at a time (the weight service, the central
// upload and its check), the live page's points, and the central upload's position in
// upload_state. No SQL on lines or upload_state lives outside journal/. The file's content is
// untrusted: a row that does not make sense (RowFromQuery) is handed on as a problem, never
// changed into another.

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "JournalRows.h"
#include "JournalSchema.h"

namespace waga::journal {

// The highest seq within 1..kMaxSeq (nullopt when there is none) and, when the file holds a row
// numbered outside that range, one such seq in `stray`.
bool ReadSeqBounds(QSqlDatabase& db, std::optional<std::int64_t>& highest,
                   std::optional<std::int64_t>& stray, QSqlError& error);

// Deletes the rows whose first and last lines are older than `cutoffMs`; with `keepUnsent`,
// not those the central upload has not acknowledged (its position saved last). `then` runs in
// the same transaction after the delete (the seal's repair of its chain); false rolls back.
bool DeleteOldRows(QSqlDatabase& db, std::int64_t cutoffMs, bool keepUnsent, QSqlError& error,
                   const std::function<bool(QSqlError&)>& then = {});

// One row of a read: made sense of, or not (`problem` says why, in Polish, naming the row; only
// row.seq is set then, as the file holds it). Return false to stop the read.
using RowVisitor = std::function<bool(const JournalRow& row, const QString& problem)>;

// The rows after a seq, in seq order, a page at a time; the statement is prepared once.
class RowPages {
  public:
    explicit RowPages(const QSqlDatabase& db);
    ~RowPages();
    // At most `limit` rows with seq > `afterSeq`. False with `error` when the file could not be
    // read. The read is ended before it returns.
    bool Read(std::int64_t afterSeq, int limit, const RowVisitor& visit, QSqlError& error);

  private:
    struct Query;
    std::unique_ptr<Query> q_;
};

// The live page's start, from `sinceMs` on: the readings' spans (RowColumns::Span; the run that
// began before and lasts into the time first), and the gap rows that end in it.
bool ReadReadingSpans(QSqlDatabase& db, std::int64_t sinceMs, const RowVisitor& visit,
                      QSqlError& error);
bool ReadGaps(QSqlDatabase& db, std::int64_t sinceMs, const RowVisitor& visit, QSqlError& error);
// The last `count` report rows, the newest first.
bool ReadLastReports(QSqlDatabase& db, int count, const RowVisitor& visit, QSqlError& error);

// Where the central upload stands: the highest seq stored centrally and that row's count and
// last_ms when it was stored (the row may have grown since).
struct AckedPosition {
    qint64 seq = 0;
    qint64 count = 0;
    qint64 lastMs = 0;
    bool operator==(const AckedPosition&) const = default;
};

// What reading the rows to send gave.
enum class ReadOutcome : std::uint8_t { Rows, Unreadable, Malformed };

// The journal as the central upload reads and marks it, on one connection (used on its thread),
// with its statements prepared once. Every read is ended before a call returns, so that the
// journal's writer can always checkpoint. Errors are Polish (JournalErrorText).
class UploadOutbox {
  public:
    explicit UploadOutbox(const QSqlDatabase& journal);
    ~UploadOutbox();
    UploadOutbox(const UploadOutbox&) = delete;
    UploadOutbox& operator=(const UploadOutbox&) = delete;

    // The rows still to send after `acked`: the acked row again when it grew since, then the
    // rows above it, in seq order, until `maxRows` or `maxBytes` of bytes and text. A row that
    // does not make sense, or that `fits` refuses (with its problem), ends the rows before it;
    // when it is the first, Malformed with the problem in `error`. A row numbered below 1 (which
    // no position passes) is Malformed too once nothing else is left, so that it is told, not
    // left behind unseen.
    ReadOutcome ReadPending(const AckedPosition& acked, int maxRows, std::int64_t maxBytes,
                            const std::function<bool(const JournalRow&, QString&)>& fits,
                            std::vector<JournalRow>& rows, QString& error);
    // How many rows are still to send after `acked` (the acked row counts when it grew; a row
    // numbered outside 1..kMaxSeq counts as well).
    std::optional<std::int64_t> CountPending(const AckedPosition& acked, QString& error);
    // The position kept under `target`: a missing row is position 0; a value that is not a
    // number, or a seq outside 0..kMaxSeq, is an error. `savedMs` (optional) gets when it was
    // saved (0: never).
    bool LoadAcked(const QString& target, AckedPosition& acked, QString& error,
                   std::int64_t* savedMs = nullptr);
    bool SaveAcked(const QString& target, const AckedPosition& acked, std::int64_t nowMs,
                   QString& error);
    // From now on a statement waits at most kClosingWaitMs for another connection's lock: at a
    // close, a position not recorded is only sent again next time.
    void SetClosing();
    static constexpr int kClosingWaitMs = 300;

  private:
    bool Prepare(QString& error);
    struct Queries;
    QSqlDatabase db_;
    std::unique_ptr<Queries> q_;
};

}  // namespace waga::journal

#pragma once
// The content of a station's rows on both sides, row by row: each row's seq with an MD5 of its
// content (kind, first and last time in ms, count, the received bytes, text, unit and port; texts
// without NUL characters, as the central text holds them). waga-central --sprawdz compares the
// journal with the central rows this way; the tests compare the two sums of them (RowsDigest)
// after every fault.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "JournalRows.h"
#include "JournalTables.h"
#include "PgLink.h"

class QSqlDatabase;

namespace central {

struct RowDigest {
    qint64 seq = 0;
    qint64 count = 0;
    qint64 lastMs = 0;
    QByteArray md5;       // lower-case hex
    QByteArray identity;  // the same without the count and the last time: the run it is
    bool operator==(const RowDigest&) const = default;
};

// Starts a transaction in which every piece the central side reads is of the same moment, that
// moment being now (before the journal is read, so the central side never runs ahead of it).
extern const char* const kSnapshot;

// The digest of one journal row, as the central query computes it for the stored row.
RowDigest DigestOfRow(const JournalRow& row);

// Up to `limit` digests of rows with a seq above `afterSeq`, in seq order. False with `error`
// (Polish) when a side cannot be read (a journal row that makes no sense is such an error).
bool JournalRowDigests(QSqlDatabase& journal, qint64 afterSeq, int limit,
                       std::vector<RowDigest>& out, QString& error);
bool CentralRowDigests(PgLink& link, const QString& station, qint64 afterSeq, int limit,
                       PgDeadline deadline, std::vector<RowDigest>& out, QString& error);

// One side's rows in seq order, a piece at a time: the rows after `afterSeq` (an empty piece
// ends them); false with the error.
using DigestSource =
    std::function<bool(qint64 afterSeq, std::vector<RowDigest>& piece, QString& error)>;

// What the comparison found. Rows only the journal has after the acknowledged position (and a
// pending row the server holds in an earlier state of its run: fewer lines, an earlier last time)
// are still to be sent: not a difference. Central
// rows below the journal's first seq were deleted from the journal after their kept days: not a
// difference either.
struct CheckResult {
    qint64 journalRows = 0;
    qint64 centralRows = 0;
    qint64 same = 0;
    qint64 notSentYet = 0;
    qint64 olderThanJournal = 0;
    std::vector<qint64> missingCentrally;  // at or below the acknowledged position
    std::vector<qint64> different;         // the same seq, other content
    std::vector<qint64> notInJournal;      // central rows within the journal's range
    bool HasDifferences() const {
        return !missingCentrally.empty() || !different.empty() || !notInJournal.empty();
    }
};

using waga::journal::AckedPosition;
// Walks both sides in seq order, a piece at a time.
std::optional<CheckResult> CompareRows(const DigestSource& journal, const DigestSource& central,
                                       const AckedPosition& acked, QString& error);

// The sum of one side: how many rows, and an MD5 over every row's seq and digest in seq order
// (empty when there are no rows). Equal sums mean equal rows.
struct RowsDigest {
    qint64 rows = 0;
    QString md5;
    bool operator==(const RowsDigest&) const = default;
};
std::optional<RowsDigest> SumOfRows(const DigestSource& side, QString& error);

// The journal at `journalPath`, read through the journal module, as a DigestSource's pieces.
std::optional<RowsDigest> JournalRowsDigest(const QString& journalPath, QString& error);
std::optional<RowsDigest> CentralRowsDigest(PgLink& link, const QString& station, QString& error);

}  // namespace central

#include "CentralCheck.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <limits>

#include "CentralTexts.h"
#include "JournalFile.h"
#include "UploadBatch.h"

namespace central {
namespace {

constexpr int kPieceRows = 20000;
constexpr qint64 kBeforeAll = std::numeric_limits<qint64>::min();

QByteArray WithoutNul(const std::string& utf8) {
    QByteArray text(utf8.data(), qsizetype(utf8.size()));
    text.replace('\0', QByteArray());
    return text;
}

// One side read a piece at a time, in seq order.
class Cursor {
  public:
    explicit Cursor(const DigestSource& source) : source_(source) {}
    // The current row, or nullptr at the end; false on a read error.
    bool Current(const RowDigest*& row, QString& error) {
        if (at_ >= piece_.size() && !ended_) {
            const qint64 after = piece_.empty() ? last_ : piece_.back().seq;
            piece_.clear();
            at_ = 0;
            if (!source_(after, piece_, error)) return false;
            // A side must go forward (a server's answer is not trusted to): else it never ends.
            for (std::size_t i = 0; i < piece_.size(); ++i) {
                if (piece_[i].seq <= (i == 0 ? after : piece_[i - 1].seq)) {
                    error = QStringLiteral("wiersze nie w kolejności seq (%1 po %2)")
                                .arg(piece_[i].seq)
                                .arg(i == 0 ? after : piece_[i - 1].seq);
                    return false;
                }
            }
            if (piece_.empty()) ended_ = true;
            last_ = after;
        }
        row = at_ < piece_.size() ? &piece_[at_] : nullptr;
        return true;
    }
    void Next() { ++at_; }

  private:
    const DigestSource& source_;
    std::vector<RowDigest> piece_;
    std::size_t at_ = 0;
    qint64 last_ = kBeforeAll;
    bool ended_ = false;
};

}  // namespace

// The snapshot is taken at the transaction's first query.
const char* const kSnapshot = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SELECT 1";

RowDigest DigestOfRow(const JournalRow& row) {
    const QByteArray kind =
        QByteArray(JournalKindName(row.kind).data()) + '|' + QByteArray::number(row.firstMs) + '|';
    const QByteArray rest = QByteArray(row.raw.data(), qsizetype(row.raw.size())).toHex() + '|' +
                            WithoutNul(row.text) + '|' + WithoutNul(row.unit) + '|' +
                            WithoutNul(row.port);
    const QByteArray content =
        kind + QByteArray::number(row.lastMs) + '|' + QByteArray::number(row.count) + '|' + rest;
    const auto md5 = [](const QByteArray& text) {
        return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
    };
    return RowDigest{row.seq, row.count, row.lastMs, md5(content), md5(kind + rest)};
}

bool JournalRowDigests(QSqlDatabase& journal, qint64 afterSeq, int limit,
                       std::vector<RowDigest>& out, QString& error) {
    QSqlError failure;
    bool sense = true;
    const bool read = waga::journal::RowPages(journal).Read(
        afterSeq, limit,
        [&](const JournalRow& row, const QString& problem) {
            if (!problem.isEmpty()) {
                error = QStringLiteral("dziennik: ") + problem;
                sense = false;
                return false;
            }
            out.push_back(DigestOfRow(row));
            return true;
        },
        failure);
    if (!read) error = JournalErrorText(failure);
    return read && sense;
}

bool CentralRowDigests(PgLink& link, const QString& station, qint64 afterSeq, int limit,
                       PgDeadline deadline, std::vector<RowDigest>& out, QString& error) {
    static const char* const kQuery =
        "SELECT seq, count, (extract(epoch FROM last_at) * 1000)::bigint,"
        " md5(kind || '|' || (extract(epoch FROM first_at) * 1000)::bigint || '|' ||"
        " (extract(epoch FROM last_at) * 1000)::bigint || '|' || count || '|' ||"
        " encode(raw, 'hex') || '|' || text || '|' || unit || '|' || port),"
        " md5(kind || '|' || (extract(epoch FROM first_at) * 1000)::bigint || '|' ||"
        " encode(raw, 'hex') || '|' || text || '|' || unit || '|' || port)"
        " FROM weighing_lines WHERE station = $1 AND seq > $2 ORDER BY seq LIMIT $3";
    std::vector<PgResult> results;
    if (link.Exec(kQuery,
                  {station.toUtf8(), QByteArray::number(afterSeq), QByteArray::number(limit)},
                  results, deadline) != PgWait::Done) {
        error = QueryFailureCause(link.ErrorState(), link.Error());
        return false;
    }
    if (results.size() != 1 || !results[0].Ok()) {
        error = results.empty() ? QStringLiteral("brak odpowiedzi serwera")
                                : QueryFailureCause(results[0].SqlState(), results[0].Message());
        return false;
    }
    const PgResult& rows = results[0];
    for (int r = 0; r < rows.Rows(); ++r) {
        out.push_back(RowDigest{rows.Number(r, 0), rows.Number(r, 1), rows.Number(r, 2),
                                rows.Value(r, 3), rows.Value(r, 4)});
    }
    return true;
}

std::optional<CheckResult> CompareRows(const DigestSource& journal, const DigestSource& central,
                                       const AckedPosition& acked, QString& error) {
    CheckResult result;
    Cursor ours(journal);
    Cursor theirs(central);
    std::optional<qint64> firstJournalSeq;
    for (;;) {
        const RowDigest* j = nullptr;
        const RowDigest* c = nullptr;
        if (!ours.Current(j, error) || !theirs.Current(c, error)) return std::nullopt;
        if (j && !firstJournalSeq) firstJournalSeq = j->seq;
        if (!j && !c) break;
        if (c && (!j || c->seq < j->seq)) {
            ++result.centralRows;
            if (!firstJournalSeq || c->seq < *firstJournalSeq) {
                ++result.olderThanJournal;
            } else {
                result.notInJournal.push_back(c->seq);
            }
            theirs.Next();
            continue;
        }
        ++result.journalRows;
        const bool pending =
            j->seq > acked.seq ||
            (j->seq == acked.seq && (j->count != acked.count || j->lastMs != acked.lastMs));
        if (!c || j->seq < c->seq) {
            if (pending) {
                ++result.notSentYet;
            } else {
                result.missingCentrally.push_back(j->seq);
            }
            ours.Next();
            continue;
        }
        ++result.centralRows;
        if (j->md5 == c->md5) {
            ++result.same;
        } else if (pending && j->identity == c->identity && c->count <= j->count &&
                   c->lastMs <= j->lastMs) {
            ++result.notSentYet;  // the run grew since it was last sent
        } else {
            result.different.push_back(j->seq);
        }
        ours.Next();
        theirs.Next();
    }
    return result;
}

std::optional<RowsDigest> SumOfRows(const DigestSource& side, QString& error) {
    QCryptographicHash hash(QCryptographicHash::Md5);
    RowsDigest digest;
    qint64 after = kBeforeAll;
    for (;;) {
        std::vector<RowDigest> piece;
        if (!side(after, piece, error)) return std::nullopt;
        if (piece.empty()) break;
        for (const RowDigest& row : piece) {
            hash.addData(QByteArray::number(row.seq) + ':' + row.md5 + '\n');
        }
        digest.rows += qint64(piece.size());
        after = piece.back().seq;
    }
    if (digest.rows > 0) digest.md5 = QString::fromLatin1(hash.result().toHex());
    return digest;
}

std::optional<RowsDigest> JournalRowsDigest(const QString& journalPath, QString& error) {
    waga::journal::JournalDb journal;
    if (!journal.Open(journalPath, waga::journal::JournalAccess::Reader)) {
        error = JournalErrorText(journal.LastError());
        return std::nullopt;
    }
    QSqlDatabase db = journal.Database();
    // One read transaction: every piece from the same moment of the file.
    if (!db.transaction()) {
        error = JournalErrorText(db.lastError());
        return std::nullopt;
    }
    auto digest = SumOfRows(
        [&db](qint64 after, std::vector<RowDigest>& piece, QString& failure) {
            return JournalRowDigests(db, after, kPieceRows, piece, failure);
        },
        error);
    db.rollback();
    return digest;
}

std::optional<RowsDigest> CentralRowsDigest(PgLink& link, const QString& station, QString& error) {
    const PgDeadline deadline = DeadlineIn(kAnswerWait);
    if (link.Run(kSnapshot, deadline) != PgWait::Done) {
        error = QueryFailureCause(link.ErrorState(), link.Error());
        return std::nullopt;
    }
    auto digest = SumOfRows(
        [&](qint64 after, std::vector<RowDigest>& piece, QString& failure) {
            return CentralRowDigests(link, station, after, kPieceRows, DeadlineIn(kAnswerWait),
                                     piece, failure);
        },
        error);
    link.Run("COMMIT", deadline);
    return digest;
}

}  // namespace central

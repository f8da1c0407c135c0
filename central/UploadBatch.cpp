#include "UploadBatch.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>
#include <string>

#include "JournalFile.h"
#include "LineRouting.h"

namespace central {
namespace {

QString ErrorText(const QSqlQuery& query) { return JournalErrorText(query.lastError()); }

QString SelectRows() {
    return QStringLiteral("SELECT ") + waga::journal::ColumnList(waga::journal::RowColumns::All) +
           QStringLiteral(" FROM lines");
}

}  // namespace

QString JournalErrorText(const QSqlError& error, const QString& doing) {
    using waga::journal::JournalFault;
    // SQLite's own words; Qt's ("Unable to fetch row") only when SQLite said nothing.
    const QString detail = error.databaseText().trimmed().isEmpty()
                               ? error.text().trimmed()
                               : error.databaseText().trimmed();
    const char* polish = nullptr;
    switch (waga::journal::ClassifySqlError(error)) {
        case JournalFault::DiskFull:
            polish = "brak miejsca na dysku";
            break;
        case JournalFault::ReadOnly:
            polish = "nie można pisać w folderze dziennika";
            break;
        case JournalFault::Locked:
            polish = "plik dziennika jest zablokowany przez inny program";
            break;
        case JournalFault::Damaged:
            polish = "plik dziennika jest uszkodzony";
            break;
        case JournalFault::None:
        case JournalFault::Conflict:
        case JournalFault::Other:
            break;
    }
    const QString text =
        polish ? QString::fromUtf8(polish) + QStringLiteral(" (") + detail + QLatin1Char(')')
               : detail;
    return QStringLiteral("dziennik: ") +
           (doing.isEmpty() ? text : doing + QStringLiteral(": ") + text);
}

const char* const kPrepareSession =
    "CREATE TEMP TABLE waga_batch (station text, seq bigint, kind text, first_at timestamptz,"
    " last_at timestamptz, count bigint, text text, raw bytea, value text, unit text, port text);"
    " PREPARE waga_store AS WITH span AS MATERIALIZED (SELECT min(station) AS station,"
    " min(seq) AS low, max(seq) AS high FROM pg_temp.waga_batch),"
    " held AS MATERIALIZED (SELECT o.seq, o.first_at FROM weighing_lines o JOIN span"
    " ON o.station = span.station AND o.seq BETWEEN span.low AND span.high),"
    " stored AS (INSERT INTO weighing_lines AS w (station, seq, kind,"
    " first_at, last_at, count, text, raw, value, unit, port) SELECT station, seq, kind, first_at,"
    " last_at, count, text, raw, value::numeric, unit, port FROM pg_temp.waga_batch b"
    " WHERE NOT EXISTS (SELECT FROM held WHERE held.seq = b.seq AND held.first_at <> b.first_at)"
    " ON CONFLICT (station, seq, first_at) DO UPDATE SET count = GREATEST(w.count, EXCLUDED.count),"
    " last_at = GREATEST(w.last_at, EXCLUDED.last_at)"
    " WHERE w.kind = EXCLUDED.kind AND w.first_at = EXCLUDED.first_at AND w.raw = EXCLUDED.raw"
    " AND w.text = EXCLUDED.text RETURNING 1)"
    " SELECT count(*) FROM stored";

const char* const kCopyBatch =
    "BEGIN; COPY pg_temp.waga_batch FROM STDIN (FORMAT binary); EXECUTE waga_store";

const char* const kCommitBatch = "DELETE FROM pg_temp.waga_batch; COMMIT";

const char* const kCommitBatchShrinking = "TRUNCATE pg_temp.waga_batch; COMMIT";

const char* const kConflictingRow =
    "SELECT w.seq, w.kind, w.text, (extract(epoch FROM w.first_at) * 1000)::bigint"
    " FROM pg_temp.waga_batch b JOIN weighing_lines w ON w.station = b.station AND w.seq = b.seq"
    " WHERE (w.kind, w.first_at, w.raw, w.text) IS DISTINCT FROM (b.kind, b.first_at, b.raw,"
    " b.text) ORDER BY w.seq LIMIT 1";

namespace {

// COPY's binary format: big-endian numbers, each field preceded by its length (-1: NULL).
class CopyWriter {
  public:
    explicit CopyWriter(QByteArray& out) : out_(out) {}
    void Int16(qint16 v) { Append(qToBigEndian(v)); }
    void Int32(qint32 v) { Append(qToBigEndian(v)); }
    void Int64Field(qint64 v) {
        Int32(8);
        Append(qToBigEndian(v));
    }
    // Microseconds since 2000-01-01 00:00 UTC, PostgreSQL's timestamptz.
    void TimeField(qint64 utcMs) { Int64Field((utcMs - kPgEpochMs) * 1000); }
    void BytesField(const char* data, qsizetype size) {
        Int32(static_cast<qint32>(size));
        out_.append(data, size);
    }
    void TextField(std::string_view utf8) {
        if (utf8.find('\0') == std::string_view::npos) {
            BytesField(utf8.data(), qsizetype(utf8.size()));
            return;
        }
        std::string kept(utf8);
        std::erase(kept, '\0');
        BytesField(kept.data(), qsizetype(kept.size()));
    }
    void Null() { Int32(-1); }

  private:
    static constexpr qint64 kPgEpochMs = 946684800000;
    template <typename T>
    void Append(T bigEndian) {
        out_.append(reinterpret_cast<const char*>(&bigEndian), sizeof bigEndian);
    }
    QByteArray& out_;
};

// A reading's number for the central numeric, with the decimals it was shown with (" 17.70" is
// 17.70): its text without spaces, a comma read as the point, when that is a plain decimal;
// else (an exponent, a very long text) the shortest text that reads back as the same double.
// central/migrate-2.sql gives the rows of version 1 their decimals by the same rule.
QByteArray ValueText(const JournalRow& row) {
    if (row.text.size() <= 1000) {
        const std::string text = CommasToDots(RemoveSpaces(row.text));
        const std::size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
        int digits = 0;
        int points = 0;
        for (std::size_t i = start; i < text.size(); ++i) {
            if (text[i] >= '0' && text[i] <= '9') {
                ++digits;
            } else if (text[i] == '.') {
                ++points;
            } else {
                points = 2;  // not a plain decimal
                break;
            }
        }
        if (digits > 0 && points <= 1) return QByteArray::fromStdString(text);
    }
    return QByteArray::number(*row.value, 'g', QLocale::FloatingPointShortest);
}

constexpr char kCopySignature[] = "PGCOPY\n\377\r\n";  // and a NUL: 11 bytes
constexpr int kBatchColumns = 11;

}  // namespace

QByteArray BatchCopyData(const QString& station, const std::vector<JournalRow>& rows) {
    QByteArray out;
    qsizetype size = 32;
    for (const JournalRow& r : rows) size += 110 + qsizetype(r.text.size() + r.raw.size());
    out.reserve(size);
    CopyWriter w(out);
    out.append(kCopySignature, sizeof kCopySignature);  // with its NUL
    w.Int32(0);                                         // flags
    w.Int32(0);                                         // no header extension
    const std::string stationUtf8 = station.toStdString();
    QByteArray value;
    for (const JournalRow& r : rows) {
        w.Int16(kBatchColumns);
        w.TextField(stationUtf8);
        w.Int64Field(r.seq);
        w.TextField(JournalKindName(r.kind));
        w.TimeField(r.firstMs);
        w.TimeField(r.lastMs);
        w.Int64Field(r.count);
        w.TextField(r.text);
        w.BytesField(r.raw.data(), qsizetype(r.raw.size()));
        if (r.value) {
            value = ValueText(r);
            w.BytesField(value.constData(), value.size());
        } else {
            w.Null();
        }
        w.TextField(r.unit);
        w.TextField(r.port);
    }
    w.Int16(-1);  // the end of the data
    return out;
}

// The statements, prepared once on the connection.
struct JournalOutbox::Queries {
    explicit Queries(const QSqlDatabase& db) : grown(db), after(db), count(db), load(db), save(db) {
        for (QSqlQuery* q : {&grown, &after, &count, &load, &save}) q->setForwardOnly(true);
    }
    // Two queries, each a search on the primary key: one with an OR would scan the whole file.
    QSqlQuery grown;
    QSqlQuery after;
    QSqlQuery count;
    QSqlQuery load;
    QSqlQuery save;
    bool prepared = false;
};

JournalOutbox::JournalOutbox(const QSqlDatabase& journal)
    : db_(journal), q_(std::make_unique<Queries>(journal)) {}

JournalOutbox::~JournalOutbox() = default;

bool JournalOutbox::Prepare(QString& error) {
    if (q_->prepared) return true;
    const struct {
        QSqlQuery& query;
        QString sql;
    } statements[] = {
        {q_->grown,
         SelectRows() + QLatin1String(" WHERE seq = ? AND (count <> ? OR last_ms <> ?)")},
        {q_->after, SelectRows() + QLatin1String(" WHERE seq > ? ORDER BY seq LIMIT ?")},
        // Counted, not estimated from the seqs: numbers jump between runs of the program
        // (journal/SeqMark.h). A range of the primary key counts about 50 million rows a second.
        {q_->count,
         QStringLiteral("SELECT (SELECT count(*) FROM lines WHERE seq > ?), (SELECT count(*) FROM"
                        " lines WHERE seq = ? AND (count <> ? OR last_ms <> ?))")},
        {q_->load, QStringLiteral("SELECT acked_seq, acked_count, acked_last_ms, updated_ms FROM"
                                  " upload_state WHERE target = ?")},
        {q_->save,
         QStringLiteral(
             "INSERT INTO upload_state(target, acked_seq, acked_count, acked_last_ms,"
             " updated_ms) VALUES(?, ?, ?, ?, ?) ON CONFLICT(target) DO UPDATE SET"
             " acked_seq = excluded.acked_seq, acked_count = excluded.acked_count,"
             " acked_last_ms = excluded.acked_last_ms, updated_ms = excluded.updated_ms")},
    };
    for (const auto& statement : statements) {
        if (!statement.query.prepare(statement.sql)) {
            error = ErrorText(statement.query);
            return false;
        }
    }
    q_->prepared = true;
    return true;
}

namespace {

// PostgreSQL's timestamptz holds 4713 BC .. 294276 AD; a journal time outside it (a hand-edited
// file, a clock far off) would be refused by the server for ever, or wrap around in the COPY.
bool TimesFitTheServer(const JournalRow& row, QString& problem) {
    constexpr qint64 kFirstMs = -210866803200000;  // 4714-11-24 00:00 UTC (4713 BC)
    constexpr qint64 kEndMs = 9224318016000000;    // 294277-01-01 00:00 UTC
    const auto fits = [](qint64 ms) { return ms >= kFirstMs && ms < kEndMs; };
    if (fits(row.firstMs) && fits(row.lastMs)) return true;
    problem =
        QStringLiteral("wiersz %1: czas spoza zakresu bazy centralnej (first_ms %2, last_ms %3)")
            .arg(row.seq)
            .arg(row.firstMs)
            .arg(row.lastMs);
    return false;
}

}  // namespace

ReadOutcome JournalOutbox::ReadPending(const AckedPosition& acked, std::vector<JournalRow>& rows,
                                       QString& error) {
    rows.clear();
    if (!Prepare(error)) return ReadOutcome::Unreadable;
    QSqlQuery& grown = q_->grown;
    QSqlQuery& after = q_->after;
    grown.bindValue(0, acked.seq);
    grown.bindValue(1, acked.count);
    grown.bindValue(2, acked.lastMs);
    after.bindValue(0, acked.seq);
    after.bindValue(1, kMaxBatchRows);
    qint64 bytes = 0;
    ReadOutcome outcome = ReadOutcome::Rows;
    for (QSqlQuery* q : {&grown, &after}) {
        if (!q->exec()) {
            error = ErrorText(*q);
            outcome = ReadOutcome::Unreadable;
            break;
        }
        while (static_cast<int>(rows.size()) < kMaxBatchRows && bytes < kMaxBatchBytes &&
               q->next()) {
            JournalRow row;
            QString problem;
            if (!waga::journal::RowFromQuery(*q, waga::journal::RowColumns::All, row, problem) ||
                !TimesFitTheServer(row, problem)) {
                // The rows before it go; the next batch starts with it and stops there.
                if (rows.empty()) {
                    error = QStringLiteral("dziennik: ") + problem;
                    outcome = ReadOutcome::Malformed;
                }
                break;
            }
            bytes += qint64(row.raw.size() + row.text.size());
            rows.push_back(std::move(row));
        }
        if (outcome == ReadOutcome::Rows && q->lastError().isValid()) {
            error = ErrorText(*q);
            outcome = ReadOutcome::Unreadable;
        }
        q->finish();  // ends the read, so that the writer's checkpoints are not held up
        if (outcome != ReadOutcome::Rows || static_cast<int>(rows.size()) >= kMaxBatchRows ||
            bytes >= kMaxBatchBytes) {
            break;
        }
    }
    grown.finish();
    after.finish();
    if (outcome != ReadOutcome::Rows) rows.clear();
    return outcome;
}

std::optional<qint64> JournalOutbox::CountPending(const AckedPosition& acked, QString& error) {
    const QString doing = QStringLiteral("nie można policzyć zaległych");
    if (!Prepare(error)) return std::nullopt;
    QSqlQuery& q = q_->count;
    q.bindValue(0, acked.seq);
    q.bindValue(1, acked.seq);
    q.bindValue(2, acked.count);
    q.bindValue(3, acked.lastMs);
    if (!q.exec() || !q.next()) {
        error = JournalErrorText(q.lastError(), doing);
        q.finish();
        return std::nullopt;
    }
    const qint64 pending = q.value(0).toLongLong() + q.value(1).toLongLong();
    q.finish();
    return pending;
}

bool JournalOutbox::LoadAcked(const QString& target, AckedPosition& acked, QString& error,
                              qint64* savedMs) {
    acked = AckedPosition{};
    if (savedMs) *savedMs = 0;
    if (!Prepare(error)) return false;
    QSqlQuery& q = q_->load;
    q.bindValue(0, target);
    const auto fail = [&](const QString& why) {
        error = why;
        acked = AckedPosition{};
        q.finish();
        return false;
    };
    if (!q.exec()) return fail(ErrorText(q));
    if (!q.next()) {
        if (q.lastError().isValid()) return fail(ErrorText(q));
        q.finish();
        return true;
    }
    qint64* fields[] = {&acked.seq, &acked.count, &acked.lastMs};
    for (int i = 0; i < 3; ++i) {
        const QVariant value = q.value(i);
        if (value.isNull() || value.typeId() != QMetaType::LongLong) {
            return fail(QStringLiteral("dziennik: upload_state: „%1” nie jest liczbą")
                            .arg(value.toString()));
        }
        *fields[i] = value.toLongLong();
    }
    if (savedMs) *savedMs = q.value(3).toLongLong();
    q.finish();
    return true;
}

bool JournalOutbox::SaveAcked(const QString& target, const AckedPosition& acked, qint64 nowMs,
                              QString& error) {
    if (!Prepare(error)) return false;
    QSqlQuery& q = q_->save;
    QSqlError failure;
    const bool saved = waga::journal::InWriteTransaction(db_, failure, [&](QSqlError& cause) {
        q.bindValue(0, target);
        q.bindValue(1, acked.seq);
        q.bindValue(2, acked.count);
        q.bindValue(3, acked.lastMs);
        q.bindValue(4, nowMs);
        const bool done = q.exec();
        if (!done) cause = q.lastError();
        q.finish();
        return done;
    });
    if (!saved) error = JournalErrorText(failure, QStringLiteral("nie zapisano pozycji wysłania"));
    return saved;
}

ReadOutcome ReadPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                            std::vector<JournalRow>& rows, QString& error) {
    return JournalOutbox(journal).ReadPending(acked, rows, error);
}

std::optional<qint64> CountPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                                       QString& error) {
    return JournalOutbox(journal).CountPending(acked, error);
}

bool LoadAckedPosition(QSqlDatabase& journal, const QString& target, AckedPosition& acked,
                       QString& error, qint64* savedMs) {
    return JournalOutbox(journal).LoadAcked(target, acked, error, savedMs);
}

bool SaveAckedPosition(QSqlDatabase& journal, const QString& target, const AckedPosition& acked,
                       qint64 nowMs, QString& error) {
    return JournalOutbox(journal).SaveAcked(target, acked, nowMs, error);
}

}  // namespace central

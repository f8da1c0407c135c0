#include "UploadBatch.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtEndian>
#include <string>

#include "JournalFile.h"

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

// The batch's columns come from unnest() over the arrays; the inserted columns are named, so a
// column the server's table gains later (with its default) changes nothing here.
const char* const kStoreBatch =
    "WITH b AS (SELECT * FROM unnest($2::bigint[], $3::text[], $4::timestamptz[],"
    " $5::timestamptz[], $6::bigint[], $7::text[], $8::bytea[], $9::text[], $10::text[],"
    " $11::text[]) AS b(seq, kind, first_at, last_at, count, text, raw, value, unit, port)),"
    " stored AS (INSERT INTO weighing_lines AS w (station, seq, kind, first_at, last_at, count,"
    " text, raw, value, unit, port) SELECT $1, seq, kind, first_at, last_at, count, text, raw,"
    " value::numeric, unit, port FROM b"
    " ON CONFLICT (station, seq) DO UPDATE SET count = CASE WHEN (w.kind, w.first_at, w.raw,"
    " w.text) = (EXCLUDED.kind, EXCLUDED.first_at, EXCLUDED.raw, EXCLUDED.text)"
    " THEN GREATEST(w.count, EXCLUDED.count) END,"
    " last_at = GREATEST(w.last_at, EXCLUDED.last_at) RETURNING 1)"
    " SELECT count(*) FROM stored";

const char* const kConflictingRow =
    "SELECT w.seq, w.kind, w.text, (extract(epoch FROM w.first_at) * 1000)::bigint"
    " FROM unnest($2::bigint[], $3::text[], $4::timestamptz[], $7::text[], $8::bytea[])"
    " AS b(seq, kind, first_at, text, raw)"
    " JOIN weighing_lines w ON w.station = $1 AND w.seq = b.seq"
    " WHERE (w.kind, w.first_at, w.raw, w.text) IS DISTINCT FROM (b.kind, b.first_at, b.raw,"
    " b.text) ORDER BY w.seq LIMIT 1";

namespace {

// PostgreSQL's binary forms: big-endian numbers; an array is its header, then each element
// preceded by its length (-1: NULL).
constexpr unsigned kTextOid = 25;
constexpr unsigned kInt8Oid = 20;
constexpr unsigned kByteaOid = 17;
constexpr unsigned kTimestamptzOid = 1184;
constexpr unsigned kInt8ArrayOid = 1016;
constexpr unsigned kTextArrayOid = 1009;
constexpr unsigned kByteaArrayOid = 1001;
constexpr unsigned kTimestamptzArrayOid = 1185;

class ArrayWriter {
  public:
    ArrayWriter(unsigned elementOid, qsizetype count, qsizetype bytes = 0) {
        out_.reserve(20 + count * 12 + bytes);
        Int32(1);  // dimensions
        Int32(0);  // flags (PostgreSQL finds NULLs itself)
        Int32(qint32(elementOid));
        Int32(qint32(count));
        Int32(1);  // the lower bound
    }
    void Int64(qint64 v) {
        Int32(8);
        Append(qToBigEndian(v));
    }
    // Microseconds since 2000-01-01 00:00 UTC, PostgreSQL's timestamptz.
    void Time(qint64 utcMs) { Int64((utcMs - kPgEpochMs) * 1000); }
    void Bytes(const char* data, qsizetype size) {
        Int32(static_cast<qint32>(size));
        out_.append(data, size);
    }
    void Text(std::string_view utf8) {
        if (utf8.find('\0') == std::string_view::npos) {
            Bytes(utf8.data(), qsizetype(utf8.size()));
            return;
        }
        std::string kept(utf8);
        std::erase(kept, '\0');
        Bytes(kept.data(), qsizetype(kept.size()));
    }
    void Null() { Int32(-1); }
    QByteArray Take() { return std::move(out_); }

  private:
    static constexpr qint64 kPgEpochMs = 946684800000;
    void Int32(qint32 v) { Append(qToBigEndian(v)); }
    template <typename T>
    void Append(T bigEndian) {
        out_.append(reinterpret_cast<const char*>(&bigEndian), sizeof bigEndian);
    }
    QByteArray out_;
};

}  // namespace

BatchParameters BatchArrays(const QString& station, const std::vector<JournalRow>& rows) {
    const qsizetype n = qsizetype(rows.size());
    qsizetype textBytes = 0;
    qsizetype rawBytes = 0;
    for (const JournalRow& r : rows) {
        textBytes += qsizetype(r.text.size());
        rawBytes += qsizetype(r.raw.size());
    }
    ArrayWriter seq(kInt8Oid, n), kind(kTextOid, n, 8 * n), first(kTimestamptzOid, n),
        last(kTimestamptzOid, n), count(kInt8Oid, n), text(kTextOid, n, textBytes),
        raw(kByteaOid, n, rawBytes), value(kTextOid, n, 8 * n), unit(kTextOid, n, 2 * n),
        port(kTextOid, n, 4 * n);
    QByteArray number;
    for (const JournalRow& r : rows) {
        seq.Int64(r.seq);
        kind.Text(JournalKindName(r.kind));
        first.Time(r.firstMs);
        last.Time(r.lastMs);
        count.Int64(r.count);
        text.Text(r.text);
        raw.Bytes(r.raw.data(), qsizetype(r.raw.size()));
        if (r.value) {
            // The shortest text that reads back as the same double, in any locale.
            number = QByteArray::number(*r.value, 'g', QLocale::FloatingPointShortest);
            value.Bytes(number.constData(), number.size());
        } else {
            value.Null();
        }
        unit.Text(r.unit);
        port.Text(r.port);
    }
    BatchParameters p;
    p.oids = {
        kTextOid,      kInt8ArrayOid, kTextArrayOid,  kTimestamptzArrayOid, kTimestamptzArrayOid,
        kInt8ArrayOid, kTextArrayOid, kByteaArrayOid, kTextArrayOid,        kTextArrayOid,
        kTextArrayOid};
    p.values = {station.toUtf8(), seq.Take(), kind.Take(),  first.Take(), last.Take(), count.Take(),
                text.Take(),      raw.Take(), value.Take(), unit.Take(),  port.Take()};
    return p;
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

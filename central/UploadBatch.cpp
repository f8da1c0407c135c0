#include "UploadBatch.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QtEndian>
#include <string>

#include "LineRouting.h"

namespace central {
// The batch's columns come from unnest() over the arrays; the inserted columns are named, so a
// column the server's table gains later (with its default) changes nothing here. The table's key
// holds first_at (it is partitioned by it), so a seq the station holds centrally with another
// first_at is found by one range scan over the batch's seqs and its row is given a null count:
// the insert then fails as a changed row's update does, and nothing of the batch is stored.
const char* const kStoreBatch =
    "WITH b AS MATERIALIZED (SELECT * FROM unnest($2::bigint[], $3::text[], $4::timestamptz[],"
    " $5::timestamptz[], $6::bigint[], $7::text[], $8::bytea[], $9::text[], $10::text[],"
    " $11::text[]) AS b(seq, kind, first_at, last_at, count, text, raw, value, unit, port)),"
    " span AS MATERIALIZED (SELECT min(seq) AS low, max(seq) AS high FROM b),"
    " moved AS MATERIALIZED (SELECT o.seq FROM weighing_lines o JOIN span ON o.station = $1"
    " AND o.seq BETWEEN span.low AND span.high JOIN b ON b.seq = o.seq"
    " AND b.first_at <> o.first_at),"
    " stored AS (INSERT INTO weighing_lines AS w (station, seq, kind, first_at, last_at, count,"
    " text, raw, value, unit, port) SELECT $1, seq, kind, first_at, last_at,"
    " CASE WHEN seq IN (SELECT seq FROM moved) THEN NULL ELSE count END, text, raw,"
    " value::numeric, unit, port FROM b"
    " ON CONFLICT (station, seq, first_at) DO UPDATE SET count = CASE WHEN (w.kind, w.raw,"
    " w.text) = (EXCLUDED.kind, EXCLUDED.raw, EXCLUDED.text)"
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
            number = ValueText(r);
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

JournalOutbox::JournalOutbox(const QSqlDatabase& journal) : journal_(journal) {}

JournalOutbox::~JournalOutbox() = default;

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
    return journal_.ReadPending(acked, kMaxBatchRows, kMaxBatchBytes, TimesFitTheServer, rows,
                                error);
}

std::optional<qint64> JournalOutbox::CountPending(const AckedPosition& acked, QString& error) {
    return journal_.CountPending(acked, error);
}

bool JournalOutbox::LoadAcked(const QString& target, AckedPosition& acked, QString& error,
                              qint64* savedMs) {
    std::int64_t saved = 0;
    const bool loaded = journal_.LoadAcked(target, acked, error, &saved);
    if (savedMs) *savedMs = saved;
    return loaded;
}

bool JournalOutbox::SaveAcked(const QString& target, const AckedPosition& acked, qint64 nowMs,
                              QString& error) {
    return journal_.SaveAcked(target, acked, nowMs, error);
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

#include "UploadBatch.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QtEndian>
#include <string>

#include "LineRouting.h"

namespace central {
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

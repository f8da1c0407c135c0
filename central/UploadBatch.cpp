#include "UploadBatch.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cmath>

namespace central {
namespace {

qint64 ToInt64(const QVariant& v) {
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    return ok ? n : 0;
}

QString ToText(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

QString ErrorText(const QSqlQuery& query) { return query.lastError().text().trimmed(); }

constexpr const char* kColumns =
    "SELECT seq, kind, first_ms, last_ms, count, text, raw, value, unit, port FROM lines";

}  // namespace

JournalRow RowFromJournalValues(const QVariant& seq, const QVariant& kind, const QVariant& firstMs,
                                const QVariant& lastMs, const QVariant& count, const QVariant& text,
                                const QVariant& raw, const QVariant& value, const QVariant& unit,
                                const QVariant& port) {
    JournalRow row;
    row.seq = ToInt64(seq);
    row.kind = ToText(kind);
    if (row.kind != QLatin1String("reading") && row.kind != QLatin1String("gap")) {
        row.kind = QStringLiteral("report");
    }
    row.firstMs = ToInt64(firstMs);
    row.lastMs = ToInt64(lastMs);
    row.count = ToInt64(count);
    row.text = ToText(text);
    row.raw = raw.isNull() ? QByteArray() : raw.toByteArray();
    if (!value.isNull()) {
        bool ok = false;
        const double v = value.toDouble(&ok);
        if (ok && std::isfinite(v)) row.value = v;
    }
    row.unit = ToText(unit);
    row.port = ToText(port);
    return row;
}

QString PgTextLiteral(const QString& text) {
    QString out;
    out.reserve(text.size() + 4);
    out += QLatin1String("E'");
    for (const QChar c : text) {
        if (c == QChar(u'\0')) continue;
        if (c == QChar(u'\'') || c == QChar(u'\\')) out += c;
        out += c;
    }
    out += QLatin1Char('\'');
    return out;
}

QString PgByteaLiteral(const QByteArray& bytes) {
    return QLatin1String("decode('") + QString::fromLatin1(bytes.toHex()) +
           QLatin1String("','hex')");
}

namespace {

// One element of an array literal: "..." with '\' and '"' escaped, NUL characters left out.
void AppendArrayText(QString& out, const QString& text) {
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QChar(u'\0')) continue;
        if (c == QChar(u'"') || c == QChar(u'\\')) out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
}

// An array literal as an escaped string (E'...': the same whatever the server's
// standard_conforming_strings), cast to `type`.
QString ArrayLiteral(const QString& elements, const char* type) {
    QString quoted = elements;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1String("E'{") + quoted + QLatin1String("}'::") + QLatin1String(type);
}

}  // namespace

QString UpsertStatement(const QString& station, const std::vector<JournalRow>& rows) {
    // One array per column, unnested on the server: far cheaper to parse than a VALUES tuple
    // per row, and every value is a literal that holds any content.
    QString seq, kind, first, last, count, text, raw, value, unit, port;
    for (const JournalRow& r : rows) {
        const bool more = !seq.isEmpty();
        if (more) {
            for (QString* column :
                 {&seq, &kind, &first, &last, &count, &text, &raw, &value, &unit, &port}) {
                *column += QLatin1Char(',');
            }
        }
        seq += QString::number(r.seq);
        AppendArrayText(kind, r.kind);
        first += QString::number(r.firstMs);
        last += QString::number(r.lastMs);
        count += QString::number(r.count);
        AppendArrayText(text, r.text);
        raw += QString::fromLatin1(r.raw.toHex());
        if (r.raw.isEmpty()) raw += QLatin1String("\"\"");
        value += r.value ? QString::number(*r.value, 'g', QLocale::FloatingPointShortest)
                         : QStringLiteral("NULL");
        AppendArrayText(unit, r.unit);
        AppendArrayText(port, r.port);
    }
    return QLatin1String(
               "INSERT INTO weighing_lines (station, seq, kind, first_at, last_at, count, text,"
               " raw, value, unit, port) SELECT ") +
           PgTextLiteral(station) +
           QLatin1String(
               ", s, k, timestamptz 'epoch' + interval '1 millisecond' * f,"
               " timestamptz 'epoch' + interval '1 millisecond' * l, c, t, decode(r, 'hex'), v,"
               " u, p FROM unnest(") +
           ArrayLiteral(seq, "bigint[]") + QLatin1Char(',') + ArrayLiteral(kind, "text[]") +
           QLatin1Char(',') + ArrayLiteral(first, "bigint[]") + QLatin1Char(',') +
           ArrayLiteral(last, "bigint[]") + QLatin1Char(',') + ArrayLiteral(count, "bigint[]") +
           QLatin1Char(',') + ArrayLiteral(text, "text[]") + QLatin1Char(',') +
           ArrayLiteral(raw, "text[]") + QLatin1Char(',') + ArrayLiteral(value, "numeric[]") +
           QLatin1Char(',') + ArrayLiteral(unit, "text[]") + QLatin1Char(',') +
           ArrayLiteral(port, "text[]") +
           QLatin1String(
               ") AS t(s, k, f, l, c, t, r, v, u, p)"
               " ON CONFLICT (station, seq) DO UPDATE SET"
               " count = GREATEST(weighing_lines.count, EXCLUDED.count),"
               " last_at = GREATEST(weighing_lines.last_at, EXCLUDED.last_at)");
}

bool ReadPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                     std::vector<JournalRow>& rows, QString& error) {
    rows.clear();
    // Two queries, each a search on the primary key: one with an OR would scan the whole file.
    QSqlQuery grown(journal);
    grown.setForwardOnly(true);
    QSqlQuery after(journal);
    after.setForwardOnly(true);
    if (!grown.prepare(QLatin1String(kColumns) +
                       QLatin1String(" WHERE seq = ? AND (count <> ? OR last_ms <> ?)")) ||
        !after.prepare(QLatin1String(kColumns) +
                       QLatin1String(" WHERE seq > ? ORDER BY seq LIMIT ?"))) {
        error = ErrorText(grown.lastError().isValid() ? grown : after);
        return false;
    }
    grown.addBindValue(acked.seq);
    grown.addBindValue(acked.count);
    grown.addBindValue(acked.lastMs);
    after.addBindValue(acked.seq);
    after.addBindValue(kMaxBatchRows);
    qint64 bytes = 0;
    for (QSqlQuery* q : {&grown, &after}) {
        if (!q->exec()) {
            error = ErrorText(*q);
            rows.clear();
            return false;
        }
        while (static_cast<int>(rows.size()) < kMaxBatchRows && bytes < kMaxBatchBytes &&
               q->next()) {
            rows.push_back(RowFromJournalValues(q->value(0), q->value(1), q->value(2), q->value(3),
                                                q->value(4), q->value(5), q->value(6), q->value(7),
                                                q->value(8), q->value(9)));
            bytes += rows.back().raw.size() + rows.back().text.size() * 2;
        }
        if (q->lastError().isValid()) {
            error = ErrorText(*q);
            rows.clear();
            return false;
        }
    }
    return true;
}

std::optional<qint64> CountPendingRows(QSqlDatabase& journal, const AckedPosition& acked,
                                       QString& error) {
    // Seqs of one journal file follow each other, so a large backlog is the difference of the
    // seqs (counting millions of rows every second would slow the upload down); a small one is
    // counted exactly.
    QSqlQuery q(journal);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT (SELECT coalesce(max(seq), 0) FROM lines), (SELECT count(*) FROM lines WHERE"
        " seq = :seq AND (count <> :count OR last_ms <> :last))"));
    q.bindValue(QStringLiteral(":seq"), acked.seq);
    q.bindValue(QStringLiteral(":count"), acked.count);
    q.bindValue(QStringLiteral(":last"), acked.lastMs);
    if (!q.exec() || !q.next()) {
        error = ErrorText(q);
        return std::nullopt;
    }
    const qint64 grown = q.value(1).toLongLong();
    const qint64 span = q.value(0).toLongLong() - acked.seq;
    if (span > 100000) return span + grown;
    q.prepare(QStringLiteral("SELECT count(*) FROM lines WHERE seq > ?"));
    q.addBindValue(acked.seq);
    if (!q.exec() || !q.next()) {
        error = ErrorText(q);
        return std::nullopt;
    }
    return q.value(0).toLongLong() + grown;
}

bool LoadAckedPosition(QSqlDatabase& journal, const QString& target, AckedPosition& acked,
                       QString& error) {
    QSqlQuery q(journal);
    if (!q.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS upload_state(target TEXT PRIMARY KEY, acked_seq INTEGER"
            " NOT NULL, acked_count INTEGER NOT NULL, acked_last_ms INTEGER NOT NULL,"
            " updated_ms INTEGER NOT NULL)"))) {
        error = ErrorText(q);
        return false;
    }
    q.prepare(QStringLiteral(
        "SELECT acked_seq, acked_count, acked_last_ms FROM upload_state WHERE target = ?"));
    q.addBindValue(target);
    if (!q.exec()) {
        error = ErrorText(q);
        return false;
    }
    acked = AckedPosition{};
    if (q.next()) {
        acked.seq = ToInt64(q.value(0));
        acked.count = ToInt64(q.value(1));
        acked.lastMs = ToInt64(q.value(2));
    }
    return true;
}

bool SaveAckedPosition(QSqlDatabase& journal, const QString& target, const AckedPosition& acked,
                       qint64 nowMs, QString& error) {
    QSqlQuery q(journal);
    q.prepare(QStringLiteral(
        "INSERT INTO upload_state(target, acked_seq, acked_count, acked_last_ms, updated_ms)"
        " VALUES(?, ?, ?, ?, ?) ON CONFLICT(target) DO UPDATE SET acked_seq = excluded.acked_seq,"
        " acked_count = excluded.acked_count, acked_last_ms = excluded.acked_last_ms,"
        " updated_ms = excluded.updated_ms"));
    q.addBindValue(target);
    q.addBindValue(acked.seq);
    q.addBindValue(acked.count);
    q.addBindValue(acked.lastMs);
    q.addBindValue(nowMs);
    if (!q.exec()) {
        error = ErrorText(q);
        return false;
    }
    return true;
}

}  // namespace central

#include "UploadBatch.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cmath>

#include "JournalFile.h"

namespace central {
namespace {

QString ErrorText(const QSqlQuery& query) { return query.lastError().text().trimmed(); }

QString SelectRows() {
    return QStringLiteral("SELECT ") + waga::journal::ColumnList(waga::journal::RowColumns::All) +
           QStringLiteral(" FROM lines");
}

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

}  // namespace

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
        AppendArrayText(kind, QString::fromLatin1(JournalKindName(r.kind).data()));
        first += QString::number(r.firstMs);
        last += QString::number(r.lastMs);
        count += QString::number(r.count);
        AppendArrayText(text, Text(r.text));
        raw += QString::fromLatin1(
            QByteArray::fromRawData(r.raw.data(), qsizetype(r.raw.size())).toHex());
        if (r.raw.empty()) raw += QLatin1String("\"\"");
        value += r.value ? QString::number(*r.value, 'g', QLocale::FloatingPointShortest)
                         : QStringLiteral("NULL");
        AppendArrayText(unit, Text(r.unit));
        AppendArrayText(port, Text(r.port));
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
    if (!grown.prepare(SelectRows() +
                       QLatin1String(" WHERE seq = ? AND (count <> ? OR last_ms <> ?)")) ||
        !after.prepare(SelectRows() + QLatin1String(" WHERE seq > ? ORDER BY seq LIMIT ?"))) {
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
            JournalRow row;
            QString problem;
            if (!waga::journal::RowFromQuery(*q, waga::journal::RowColumns::All, row, problem)) {
                // The rows before it go; the next batch starts with it and stops there.
                if (!rows.empty()) return true;
                error = problem;
                return false;
            }
            bytes += qint64(row.raw.size() + row.text.size());
            rows.push_back(std::move(row));
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
    // Counted, not estimated from the seqs: numbers jump between runs of the program
    // (journal/SeqMark.h). A range of the primary key counts about 50 million rows a second.
    QSqlQuery q(journal);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT (SELECT count(*) FROM lines WHERE seq > :seq), (SELECT count(*) FROM lines WHERE"
        " seq = :seq AND (count <> :count OR last_ms <> :last))"));
    q.bindValue(QStringLiteral(":seq"), acked.seq);
    q.bindValue(QStringLiteral(":count"), acked.count);
    q.bindValue(QStringLiteral(":last"), acked.lastMs);
    if (!q.exec() || !q.next()) {
        error = ErrorText(q);
        return std::nullopt;
    }
    return q.value(0).toLongLong() + q.value(1).toLongLong();
}

bool LoadAckedPosition(QSqlDatabase& journal, const QString& target, AckedPosition& acked,
                       QString& error) {
    QSqlQuery q(journal);
    q.prepare(QStringLiteral(
        "SELECT acked_seq, acked_count, acked_last_ms FROM upload_state WHERE target = ?"));
    q.addBindValue(target);
    if (!q.exec()) {
        error = ErrorText(q);
        return false;
    }
    acked = AckedPosition{};
    if (!q.next()) return true;
    qint64* fields[] = {&acked.seq, &acked.count, &acked.lastMs};
    for (int i = 0; i < 3; ++i) {
        const QVariant value = q.value(i);
        if (value.isNull() || value.typeId() != QMetaType::LongLong) {
            error = QStringLiteral("upload_state: „%1” nie jest liczbą").arg(value.toString());
            acked = AckedPosition{};
            return false;
        }
        *fields[i] = value.toLongLong();
    }
    return true;
}

bool SaveAckedPosition(QSqlDatabase& journal, const QString& target, const AckedPosition& acked,
                       qint64 nowMs, QString& error) {
    QSqlError failure;
    if (waga::journal::InWriteTransaction(journal, failure, [&](QSqlError& cause) {
            QSqlQuery q(journal);
            q.prepare(QStringLiteral(
                "INSERT INTO upload_state(target, acked_seq, acked_count, acked_last_ms,"
                " updated_ms) VALUES(?, ?, ?, ?, ?) ON CONFLICT(target) DO UPDATE SET"
                " acked_seq = excluded.acked_seq, acked_count = excluded.acked_count,"
                " acked_last_ms = excluded.acked_last_ms, updated_ms = excluded.updated_ms"));
            q.addBindValue(target);
            q.addBindValue(acked.seq);
            q.addBindValue(acked.count);
            q.addBindValue(acked.lastMs);
            q.addBindValue(nowMs);
            if (q.exec()) return true;
            cause = q.lastError();
            return false;
        })) {
        return true;
    }
    error = failure.text().trimmed();
    return false;
}

}  // namespace central

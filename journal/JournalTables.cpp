#include "JournalTables.h"

#include <QSqlQuery>
#include <QVariant>

#include "JournalConnection.h"
#include "JournalTexts.h"

namespace waga::journal {

namespace {

QString SelectRows(RowColumns columns) {
    return QStringLiteral("SELECT ") + ColumnList(columns) + QStringLiteral(" FROM lines");
}

QSqlError NoResult(const QSqlQuery& query, const char* what) {
    if (query.lastError().isValid()) return query.lastError();
    return QSqlError(QString::fromLatin1(what), QString(), QSqlError::StatementError);
}

// Hands each row of an executed query to `visit` until it says stop; the query's error after.
bool Visit(QSqlQuery& query, RowColumns columns, JournalKind kind, const RowVisitor& visit,
           QSqlError& error) {
    JournalRow row;
    QString problem;
    while (query.next()) {
        row.kind = kind;
        problem.clear();
        if (!RowFromQuery(query, columns, row, problem)) {
            row = JournalRow{};
            row.seq = query.value(0).toLongLong();
        }
        if (!visit(row, problem)) break;
    }
    error = query.lastError();
    query.finish();
    return !error.isValid();
}

bool Select(QSqlDatabase& db, RowColumns columns, JournalKind kind, const QString& rest,
            const QVariantList& values, const RowVisitor& visit, QSqlError& error) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(SelectRows(columns) + QLatin1Char(' ') + rest)) {
        error = query.lastError();
        return false;
    }
    for (const QVariant& value : values) query.addBindValue(value);
    if (!query.exec()) {
        error = query.lastError();
        return false;
    }
    return Visit(query, columns, kind, visit, error);
}

}  // namespace

bool ReadSeqBounds(QSqlDatabase& db, std::optional<std::int64_t>& highest,
                   std::optional<std::int64_t>& stray, QSqlError& error) {
    highest.reset();
    stray.reset();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // Both searches on the primary key.
    if (!query.prepare(
            QStringLiteral("SELECT (SELECT max(seq) FROM lines WHERE seq BETWEEN 1 AND ?),"
                           " coalesce((SELECT max(seq) FROM lines WHERE seq > ?),"
                           " (SELECT min(seq) FROM lines WHERE seq < 1))"))) {
        error = query.lastError();
        return false;
    }
    query.addBindValue(qint64{kMaxSeq});
    query.addBindValue(qint64{kMaxSeq});
    if (!query.exec() || !query.next()) {
        error = NoResult(query, "brak wyniku max(seq)");
        return false;
    }
    // A seq stored as text or a real number is no row the journal wrote: out of range too.
    for (int column = 0; column < 2; ++column) {
        const QVariant value = query.value(column);
        if (value.isNull()) continue;
        (column == 0 ? highest : stray) = value.toLongLong();
    }
    query.finish();
    return true;
}

bool DeleteOldRows(QSqlDatabase& db, std::int64_t cutoffMs, bool keepUnsent, QSqlError& error,
                   const std::function<bool(QSqlError&)>& then) {
    return InWriteTransaction(db, error, [&](QSqlError& failure) {
        QSqlQuery query(db);
        // A row the central upload has not acknowledged is kept while the upload is on: it is
        // before the position saved last, or it is that row and has not grown since.
        query.prepare(QStringLiteral(
            "DELETE FROM lines WHERE first_ms < ? AND last_ms < ? AND (? = 0 OR EXISTS("
            " SELECT 1 FROM (SELECT acked_seq, acked_last_ms FROM upload_state"
            " ORDER BY updated_ms DESC LIMIT 1) AS acked WHERE lines.seq < acked.acked_seq"
            " OR (lines.seq = acked.acked_seq AND lines.last_ms <= acked.acked_last_ms)))"));
        query.addBindValue(qint64{cutoffMs});
        query.addBindValue(qint64{cutoffMs});
        query.addBindValue(keepUnsent ? 1 : 0);
        if (query.exec()) return !then || then(failure);
        failure = query.lastError();
        return false;
    });
}

// ---- Pages of rows ----

struct RowPages::Query {
    explicit Query(const QSqlDatabase& db) : after(db) { after.setForwardOnly(true); }
    QSqlQuery after;
    bool prepared = false;
};

RowPages::RowPages(const QSqlDatabase& db) : q_(std::make_unique<Query>(db)) {}
RowPages::~RowPages() = default;

bool RowPages::Read(std::int64_t afterSeq, int limit, const RowVisitor& visit, QSqlError& error) {
    QSqlQuery& q = q_->after;
    if (!q_->prepared) {
        if (!q.prepare(SelectRows(RowColumns::All) +
                       QStringLiteral(" WHERE seq > ? ORDER BY seq LIMIT ?"))) {
            error = q.lastError();
            return false;
        }
        q_->prepared = true;
    }
    q.bindValue(0, qint64{afterSeq});
    q.bindValue(1, limit);
    if (!q.exec()) {
        error = q.lastError();
        q.finish();
        return false;
    }
    return Visit(q, RowColumns::All, JournalKind::Report, visit, error);
}

bool ReadReadingSpans(QSqlDatabase& db, std::int64_t sinceMs, const RowVisitor& visit,
                      QSqlError& error) {
    const QString readings = QStringLiteral("WHERE kind = 'reading' AND ");
    // The run that began before and lasts into the time, then the rows that begin in it.
    return Select(
               db, RowColumns::Span, JournalKind::Reading,
               readings + QStringLiteral("first_ms < ? ORDER BY first_ms DESC, seq DESC LIMIT 1"),
               {qint64{sinceMs}}, visit, error) &&
           Select(db, RowColumns::Span, JournalKind::Reading,
                  readings + QStringLiteral("first_ms >= ? ORDER BY first_ms, seq"),
                  {qint64{sinceMs}}, visit, error);
}

bool ReadGaps(QSqlDatabase& db, std::int64_t sinceMs, const RowVisitor& visit, QSqlError& error) {
    return Select(db, RowColumns::All, JournalKind::Gap,
                  QStringLiteral("WHERE kind = 'gap' AND last_ms >= ? AND first_ms >= ? ORDER BY "
                                 "first_ms"),
                  {qint64{sinceMs}, qint64{sinceMs - 86'400'000}}, visit, error);
}

bool ReadLastReports(QSqlDatabase& db, int count, const RowVisitor& visit, QSqlError& error) {
    return Select(db, RowColumns::All, JournalKind::Report,
                  QStringLiteral("WHERE kind = 'report' ORDER BY seq DESC LIMIT ?"), {count}, visit,
                  error);
}

// ---- The central upload's outbox ----

struct UploadOutbox::Queries {
    explicit Queries(const QSqlDatabase& db)
        : pages(db), grown(db), stray(db), count(db), load(db), save(db) {
        for (QSqlQuery* q : {&grown, &stray, &count, &load, &save}) q->setForwardOnly(true);
    }
    RowPages pages;
    // Two queries, each a search on the primary key: one with an OR would scan the whole file.
    QSqlQuery grown;
    QSqlQuery stray;
    QSqlQuery count;
    QSqlQuery load;
    QSqlQuery save;
    bool prepared = false;
};

UploadOutbox::UploadOutbox(const QSqlDatabase& journal)
    : db_(journal), q_(std::make_unique<Queries>(journal)) {}

UploadOutbox::~UploadOutbox() = default;

bool UploadOutbox::Prepare(QString& error) {
    if (q_->prepared) return true;
    const struct {
        QSqlQuery& query;
        QString sql;
    } statements[] = {
        {q_->grown, SelectRows(RowColumns::All) +
                        QLatin1String(" WHERE seq = ? AND (count <> ? OR last_ms <> ?)")},
        {q_->stray, QStringLiteral("SELECT min(seq) FROM lines WHERE seq < 1")},
        // Counted, not estimated from the seqs: numbers jump between runs of the program
        // (SeqMark.h). A range of the primary key counts about 50 million rows a second.
        {q_->count,
         QStringLiteral("SELECT (SELECT count(*) FROM lines WHERE seq > ?), (SELECT count(*) FROM"
                        " lines WHERE seq = ? AND (count <> ? OR last_ms <> ?)),"
                        " (SELECT count(*) FROM lines WHERE seq < 1)")},
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
            error = JournalErrorText(statement.query.lastError());
            return false;
        }
    }
    q_->prepared = true;
    return true;
}

ReadOutcome UploadOutbox::ReadPending(const AckedPosition& acked, int maxRows,
                                      std::int64_t maxBytes,
                                      const std::function<bool(const JournalRow&, QString&)>& fits,
                                      std::vector<JournalRow>& rows, QString& error) {
    rows.clear();
    if (!Prepare(error)) return ReadOutcome::Unreadable;
    std::int64_t bytes = 0;
    ReadOutcome outcome = ReadOutcome::Rows;
    const auto full = [&] { return static_cast<int>(rows.size()) >= maxRows || bytes >= maxBytes; };
    const RowVisitor take = [&](const JournalRow& row, const QString& problem) {
        QString refused = problem;
        if (!refused.isEmpty() || !fits(row, refused)) {
            // The rows before it go; the next batch starts with it and stops there.
            if (rows.empty()) {
                error = QStringLiteral("dziennik: ") + refused;
                outcome = ReadOutcome::Malformed;
            }
            return false;
        }
        bytes += std::int64_t(row.raw.size() + row.text.size());
        rows.push_back(row);
        return !full();
    };
    QSqlQuery& grown = q_->grown;
    grown.bindValue(0, qint64{acked.seq});
    grown.bindValue(1, qint64{acked.count});
    grown.bindValue(2, qint64{acked.lastMs});
    QSqlError failure;
    bool read = grown.exec();
    if (read) {
        read = Visit(grown, RowColumns::All, JournalKind::Report, take, failure);
    } else {
        failure = grown.lastError();
        grown.finish();
    }
    const bool stopped = outcome != ReadOutcome::Rows || (!rows.empty() && full());
    if (read && !stopped) {
        read = q_->pages.Read(acked.seq, maxRows - static_cast<int>(rows.size()), take, failure);
    }
    if (read && outcome == ReadOutcome::Rows && rows.empty()) {
        QSqlQuery& stray = q_->stray;
        read = stray.exec() && stray.next();
        if (!read) failure = NoResult(stray, "brak wyniku min(seq)");
        if (read && !stray.value(0).isNull()) {
            error = QStringLiteral("dziennik: wiersz %1: %2")
                        .arg(stray.value(0).toLongLong())
                        .arg(QString::fromStdString(SeqRangeProblem(stray.value(0).toLongLong())));
            outcome = ReadOutcome::Malformed;
        }
        stray.finish();
    }
    if (!read) {
        error = JournalErrorText(failure);
        outcome = ReadOutcome::Unreadable;
    }
    if (outcome != ReadOutcome::Rows) rows.clear();
    return outcome;
}

std::optional<std::int64_t> UploadOutbox::CountPending(const AckedPosition& acked, QString& error) {
    const QString doing = QStringLiteral("nie można policzyć zaległych");
    if (!Prepare(error)) return std::nullopt;
    QSqlQuery& q = q_->count;
    q.bindValue(0, qint64{acked.seq});
    q.bindValue(1, qint64{acked.seq});
    q.bindValue(2, qint64{acked.count});
    q.bindValue(3, qint64{acked.lastMs});
    if (!q.exec() || !q.next()) {
        error = JournalErrorText(q.lastError(), doing);
        q.finish();
        return std::nullopt;
    }
    const std::int64_t pending =
        q.value(0).toLongLong() + q.value(1).toLongLong() + q.value(2).toLongLong();
    q.finish();
    return pending;
}

bool UploadOutbox::LoadAcked(const QString& target, AckedPosition& acked, QString& error,
                             std::int64_t* savedMs) {
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
    if (!q.exec()) return fail(JournalErrorText(q.lastError()));
    if (!q.next()) {
        if (q.lastError().isValid()) return fail(JournalErrorText(q.lastError()));
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
    // A position beyond every seq a row may have would pass every row to come: none would be
    // sent, and none counted as waiting.
    if (acked.seq < 0 || acked.seq > kMaxSeq) {
        return fail(QStringLiteral("dziennik: upload_state: pozycja wysłania %1 spoza zakresu "
                                   "0–%2")
                        .arg(acked.seq)
                        .arg(kMaxSeq));
    }
    if (savedMs) *savedMs = q.value(3).toLongLong();
    q.finish();
    return true;
}

bool UploadOutbox::SaveAcked(const QString& target, const AckedPosition& acked, std::int64_t nowMs,
                             QString& error) {
    if (!Prepare(error)) return false;
    QSqlQuery& q = q_->save;
    QSqlError failure;
    const bool saved = InWriteTransaction(db_, failure, [&](QSqlError& cause) {
        q.bindValue(0, target);
        q.bindValue(1, qint64{acked.seq});
        q.bindValue(2, qint64{acked.count});
        q.bindValue(3, qint64{acked.lastMs});
        q.bindValue(4, qint64{nowMs});
        const bool done = q.exec();
        if (!done) cause = q.lastError();
        q.finish();
        return done;
    });
    if (!saved) error = JournalErrorText(failure, QStringLiteral("nie zapisano pozycji wysłania"));
    return saved;
}

void UploadOutbox::SetClosing() { SetBusyTimeout(db_, kClosingWaitMs); }

}  // namespace waga::journal

#include "JournalQuery.h"

#include <QFile>
#include <QSqlQuery>
#include <QVariant>

namespace waga::journal {

namespace {
constexpr int kProblemsKept = 10;

QString KindName(JournalKind kind) {
    const std::string_view name = JournalKindName(kind);
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}
}  // namespace

JournalQuery::JournalQuery(const QString& path) {
    if (!QFile::exists(path)) {
        error_ = QStringLiteral("Nie ma pliku dziennika %1.").arg(path);
    } else if (!db_.Open(path, JournalAccess::Reader)) {
        error_ =
            QStringLiteral("Nie można odczytać dziennika %1: %2").arg(path, db_.LastError().text());
    }
}

void JournalQuery::Skip(const QString& problem) {
    if (problems_.size() < kProblemsKept) problems_ << problem;
    ++skipped_;
}

// Runs "SELECT <columns> FROM lines WHERE <condition>" and hands each row that makes sense to
// `row` until it returns false.
bool JournalQuery::Select(RowColumns columns, const QString& condition, const QVariantList& values,
                          const std::function<bool(const JournalRow&)>& row, JournalKind kind) {
    if (!db_.IsOpen()) return false;
    QSqlQuery q(db_.Database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT ") + ColumnList(columns) +
              QStringLiteral(" FROM lines WHERE ") + condition);
    for (const QVariant& value : values) q.addBindValue(value);
    if (!q.exec()) {
        error_ = q.lastError().text();
        return false;
    }
    JournalRow current;
    current.kind = kind;
    QString problem;
    while (q.next()) {
        if (!RowFromQuery(q, columns, current, problem)) {
            Skip(problem);
            continue;
        }
        if (!row(current)) return true;
    }
    if (q.lastError().isValid()) {
        error_ = q.lastError().text();
        return false;
    }
    return true;
}

bool JournalQuery::ForEach(std::int64_t fromMs, std::int64_t toMs,
                           const std::function<bool(const JournalRow&)>& row, bool withReadings) {
    const QString filter = withReadings ? QString() : QStringLiteral(" AND kind <> 'reading'");
    // A run of identical readings that began before the range and lasts into it, then the rows
    // that begin in it.
    bool stopped = false;
    const bool ok = Select(
        RowColumns::All,
        QStringLiteral("first_ms < ?") + filter +
            QStringLiteral(" ORDER BY first_ms DESC, seq DESC LIMIT 1"),
        {qint64{fromMs}},
        [&](const JournalRow& r) {
            stopped = r.lastMs >= fromMs && !row(r);
            return true;
        },
        JournalKind::Report);
    if (!ok) return false;
    if (stopped) return true;
    return Select(RowColumns::All,
                  QStringLiteral("first_ms >= ? AND first_ms < ?") + filter +
                      QStringLiteral(" ORDER BY first_ms, seq"),
                  {qint64{fromMs}, qint64{toMs}}, row, JournalKind::Report);
}

bool JournalQuery::ForEachSpan(JournalKind kind, std::int64_t fromMs, std::int64_t toMs,
                               const std::function<void(const JournalRow&)>& row) {
    const auto each = [&row](const JournalRow& r) {
        row(r);
        return true;
    };
    const bool ok = Select(
        RowColumns::Span,
        QStringLiteral("first_ms < ? AND kind = ? ORDER BY first_ms DESC, seq DESC LIMIT 1"),
        {qint64{fromMs}, KindName(kind)},
        [&](const JournalRow& r) {
            if (r.lastMs >= fromMs) row(r);
            return true;
        },
        kind);
    return ok && Select(RowColumns::Span,
                        QStringLiteral("first_ms >= ? AND first_ms < ? AND kind = ? "
                                       "ORDER BY first_ms, seq"),
                        {qint64{fromMs}, qint64{toMs}, KindName(kind)}, each, kind);
}

bool JournalQuery::LastUnit(std::int64_t toMs, QString& unit) {
    unit.clear();
    if (!db_.IsOpen()) return false;
    QSqlQuery q(db_.Database());
    q.prepare(
        QStringLiteral("SELECT unit FROM lines WHERE first_ms < ? AND kind = 'reading' "
                       "ORDER BY first_ms DESC LIMIT 1"));
    q.addBindValue(qint64{toMs});
    if (!q.exec()) {
        error_ = q.lastError().text();
        return false;
    }
    if (q.next()) unit = q.value(0).toString();
    return true;
}

}  // namespace waga::journal

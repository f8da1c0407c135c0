#include "JournalQuery.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <atomic>
#include <cmath>

#include "JournalFile.h"

namespace waga::journal {

namespace {
std::atomic<int> queryCounter{0};

std::string Utf8(const QVariant& v) {
    const QByteArray bytes = v.toString().toUtf8();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

bool ReadRow(const QSqlQuery& q, JournalRow& row) {
    const auto kind = JournalKindFromName(Utf8(q.value(1)));
    if (!kind) return false;
    row.seq = q.value(0).toLongLong();
    row.kind = *kind;
    row.firstMs = q.value(2).toLongLong();
    row.lastMs = q.value(3).toLongLong();
    row.count = q.value(4).toLongLong();
    row.text = Utf8(q.value(5));
    const QByteArray raw = q.value(6).toByteArray();
    row.raw.assign(raw.constData(), std::size_t(raw.size()));
    row.value.reset();
    const QVariant value = q.value(7);
    bool ok = false;
    const double v = value.isNull() ? 0.0 : value.toDouble(&ok);
    if (ok && std::isfinite(v)) row.value = v;
    row.unit = Utf8(q.value(8));
    row.port = Utf8(q.value(9));
    return true;
}
}  // namespace

JournalQuery::JournalQuery(const QString& path)
    : connection_(QStringLiteral("waga-journal-reader-%1").arg(queryCounter.fetch_add(1))) {
    if (!QFile::exists(path)) {
        error_ = QStringLiteral("Nie ma pliku dziennika %1.").arg(path);
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        return;
    }
    QSqlError error;
    open_ = OpenJournalConnection(connection_, path, false, error);
    if (!open_)
        error_ = QStringLiteral("Nie można odczytać dziennika %1: %2").arg(path, error.text());
}

JournalQuery::~JournalQuery() { CloseJournalConnection(connection_); }

bool JournalQuery::ForEach(std::int64_t fromMs, std::int64_t toMs,
                           const std::function<bool(const JournalRow&)>& row, bool withReadings) {
    const QString filter = withReadings ? QString() : QStringLiteral(" AND kind <> 'reading'");
    if (!open_) return false;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    static const QString kColumns =
        QStringLiteral("seq, kind, first_ms, last_ms, count, text, raw, value, unit, port");
    JournalRow current;
    // A run of identical readings that began before the range and lasts into it.
    {
        QSqlQuery before(db);
        before.setForwardOnly(true);
        before.prepare(QStringLiteral("SELECT ") + kColumns +
                       QStringLiteral(" FROM lines WHERE first_ms < ?") + filter +
                       QStringLiteral(" ORDER BY first_ms DESC, seq DESC LIMIT 1"));
        before.addBindValue(qint64{fromMs});
        if (!before.exec()) {
            error_ = before.lastError().text();
            return false;
        }
        if (before.next() && ReadRow(before, current) && current.lastMs >= fromMs &&
            !row(current)) {
            return true;
        }
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT ") + kColumns +
              QStringLiteral(" FROM lines WHERE first_ms >= ? AND first_ms < ?") + filter +
              QStringLiteral(" ORDER BY first_ms, seq"));
    q.addBindValue(qint64{fromMs});
    q.addBindValue(qint64{toMs});
    if (!q.exec()) {
        error_ = q.lastError().text();
        return false;
    }
    while (q.next()) {
        if (ReadRow(q, current) && !row(current)) break;
    }
    if (q.lastError().isValid()) {
        error_ = q.lastError().text();
        return false;
    }
    return true;
}

bool JournalQuery::ForEachSpan(JournalKind kind, std::int64_t fromMs, std::int64_t toMs,
                               const std::function<void(const JournalRow&)>& row) {
    if (!open_) return false;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QString kindName =
        QString::fromLatin1(JournalKindName(kind).data(), qsizetype(JournalKindName(kind).size()));
    JournalRow current;
    current.kind = kind;
    const auto read = [&current](const QSqlQuery& q) {
        current.seq = q.value(0).toLongLong();
        current.firstMs = q.value(1).toLongLong();
        current.lastMs = q.value(2).toLongLong();
        current.count = q.value(3).toLongLong();
        const QVariant value = q.value(4);
        bool ok = false;
        const double v = value.isNull() ? 0.0 : value.toDouble(&ok);
        current.value = ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
    };
    static const QString kSelect =
        QStringLiteral("SELECT seq, first_ms, last_ms, count, value FROM lines ");
    QSqlQuery before(db);
    before.setForwardOnly(true);
    before.prepare(kSelect + QStringLiteral("WHERE first_ms < ? AND kind = ? "
                                            "ORDER BY first_ms DESC, seq DESC LIMIT 1"));
    before.addBindValue(qint64{fromMs});
    before.addBindValue(kindName);
    if (!before.exec()) {
        error_ = before.lastError().text();
        return false;
    }
    if (before.next()) {
        read(before);
        if (current.lastMs >= fromMs) row(current);
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(kSelect + QStringLiteral("WHERE first_ms >= ? AND first_ms < ? AND kind = ? "
                                       "ORDER BY first_ms, seq"));
    q.addBindValue(qint64{fromMs});
    q.addBindValue(qint64{toMs});
    q.addBindValue(kindName);
    if (!q.exec()) {
        error_ = q.lastError().text();
        return false;
    }
    while (q.next()) {
        read(q);
        row(current);
    }
    return true;
}

QString JournalQuery::LastUnit(std::int64_t toMs) {
    if (!open_) return {};
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(
        QStringLiteral("SELECT unit FROM lines WHERE first_ms < ? AND kind = 'reading' "
                       "ORDER BY first_ms DESC LIMIT 1"));
    q.addBindValue(qint64{toMs});
    if (q.exec() && q.next()) return q.value(0).toString();
    return {};
}

std::vector<JournalRow> JournalQuery::Rows(std::int64_t fromMs, std::int64_t toMs) {
    std::vector<JournalRow> rows;
    ForEach(fromMs, toMs, [&rows](const JournalRow& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

}  // namespace waga::journal

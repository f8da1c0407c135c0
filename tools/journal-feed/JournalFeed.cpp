#include "JournalFeed.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr const char* kSchema[] = {
    "PRAGMA journal_mode=WAL",
    "PRAGMA synchronous=NORMAL",
    "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS lines(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, first_ms"
    " INTEGER NOT NULL, last_ms INTEGER NOT NULL, count INTEGER NOT NULL, text TEXT NOT NULL,"
    " raw BLOB NOT NULL, value REAL, unit TEXT NOT NULL, port TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS lines_first_ms ON lines(first_ms)",
    "CREATE TABLE IF NOT EXISTS upload_state(target TEXT PRIMARY KEY, acked_seq INTEGER NOT NULL,"
    " acked_count INTEGER NOT NULL, acked_last_ms INTEGER NOT NULL, updated_ms INTEGER NOT NULL)",
    "INSERT INTO schema_version SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM schema_version)",
};

QVariant ValueOf(const QByteArray& raw) {
    bool ok = false;
    const double v = QString::fromLatin1(raw).trimmed().replace(u',', u'.').toDouble(&ok);
    return ok ? QVariant(v) : QVariant();
}

}  // namespace

JournalFeed::JournalFeed(const QString& path, QString port, QString unit)
    : connection_(QStringLiteral("journal_feed_%1").arg(reinterpret_cast<quintptr>(this))),
      port_(std::move(port)),
      unit_(std::move(unit)) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        error_ = db.lastError().text();
        return;
    }
    QSqlQuery q(db);
    for (const char* statement : kSchema) {
        if (!q.exec(QLatin1String(statement))) {
            error_ = q.lastError().text();
            return;
        }
    }
    if (q.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM lines")) && q.next()) {
        lastSeq_ = q.value(0).toLongLong();
    }
    open_ = true;
}

JournalFeed::~JournalFeed() {
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
}

bool JournalFeed::AppendChunk(const std::vector<FeedLine>& lines) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!open_ || !db.transaction()) return false;
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO lines(seq, kind, first_ms, last_ms, count, text, raw, value, unit, port)"
        " VALUES(?, ?, ?, ?, 1, ?, ?, ?, ?, ?)"));
    QSqlQuery grow(db);
    grow.prepare(QStringLiteral("UPDATE lines SET count = count + 1, last_ms = ? WHERE seq = ?"));
    const qint64 seqBefore = lastSeq_;
    const bool runBefore = runOpen_;
    const QByteArray rawBefore = runRaw_;
    bool ok = true;
    for (const FeedLine& line : lines) {
        if (line.reading && runOpen_ && line.raw == runRaw_) {
            grow.addBindValue(line.ms);
            grow.addBindValue(lastSeq_);
            ok = ok && grow.exec();
            continue;
        }
        ++lastSeq_;
        const qsizetype zero = line.raw.indexOf('\0');
        insert.addBindValue(lastSeq_);
        insert.addBindValue(line.reading ? QStringLiteral("reading") : QStringLiteral("report"));
        insert.addBindValue(line.ms);
        insert.addBindValue(line.ms);
        insert.addBindValue(QString::fromLatin1(zero < 0 ? line.raw : line.raw.left(zero)));
        insert.addBindValue(line.raw.isEmpty() ? QByteArray("", 0) : line.raw);
        insert.addBindValue(line.reading ? ValueOf(line.raw) : QVariant());
        insert.addBindValue(unit_);
        insert.addBindValue(port_);
        ok = ok && insert.exec();
        runOpen_ = line.reading;
        runRaw_ = line.raw;
    }
    if (!ok) {
        error_ = insert.lastError().text() + grow.lastError().text();
        db.rollback();
        lastSeq_ = seqBefore;
        runOpen_ = runBefore;
        runRaw_ = rawBefore;
        return false;
    }
    return db.commit();
}

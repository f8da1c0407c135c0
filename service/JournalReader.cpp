#include "JournalReader.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>

namespace {
std::atomic<int> connectionCounter{0};
}

JournalReader::JournalReader(QString path)
    : path_(std::move(path)),
      connection_(QStringLiteral("waga-service-%1").arg(++connectionCounter)),
      state_(QStringLiteral("brak pliku")) {}

JournalReader::~JournalReader() {
    if (QSqlDatabase::contains(connection_)) {
        { QSqlDatabase::database(connection_, false).close(); }
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool JournalReader::Open() {
    if (open_) return true;
    if (!QFileInfo::exists(path_)) {
        state_ = QStringLiteral("brak pliku");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::contains(connection_)
                          ? QSqlDatabase::database(connection_, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=250"));
    if (!db.open()) {
        state_ = QStringLiteral("błąd: ") + db.lastError().text();
        return false;
    }
    open_ = true;
    state_ = QStringLiteral("otwarty");
    return true;
}

bool JournalReader::Available() { return Open(); }

bool JournalReader::RowsAfter(std::int64_t since, int limit, std::vector<ServiceEvent>& rows,
                              std::vector<std::int64_t>* firstMs, qint64 maxBytes,
                              bool* truncated) {
    if (truncated) *truncated = false;
    if (!Open()) return false;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT seq, kind, first_ms, last_ms, count, text, value, unit, port FROM lines "
        "WHERE seq > ? ORDER BY seq LIMIT ?"));
    query.addBindValue(static_cast<qlonglong>(since));
    query.addBindValue(limit);
    if (!query.exec()) {
        state_ = QStringLiteral("błąd: ") + query.lastError().text();
        open_ = false;  // opened afresh next time (the file may have been replaced)
        QSqlDatabase::database(connection_, false).close();
        return false;
    }
    qint64 bytes = 0;
    while (query.next()) {
        if (bytes > maxBytes) {  // rows of any length: the answer stays bounded
            if (truncated) *truncated = true;
            break;
        }
        ServiceEvent row;
        row.seq = query.value(0).toLongLong();
        const QString kind = query.value(1).toString();
        row.kind = kind == QLatin1String("reading") ? ServiceEvent::Kind::Reading
                   : kind == QLatin1String("gap")   ? ServiceEvent::Kind::Gap
                                                    : ServiceEvent::Kind::Report;
        row.timeMs = query.value(3).toLongLong();
        row.count = query.value(4).toLongLong();
        row.text = query.value(5).toString();
        const QVariant value = query.value(6);
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!value.isNull() && ok) row.value = number;
        row.unit = query.value(7).toString();
        row.port = query.value(8).toString();
        row.connected = true;
        if (row.kind == ServiceEvent::Kind::Reading)
            row.reading = row.text.simplified().remove(' ');
        bytes += 64 + 2 * (row.text.size() + row.unit.size() + row.port.size());
        if (firstMs) firstMs->push_back(query.value(2).toLongLong());
        rows.push_back(std::move(row));
    }
    state_ = QStringLiteral("otwarty");
    return true;
}

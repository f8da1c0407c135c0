#include "JournalSchema.h"

#include <QSqlQuery>
#include <QVariant>
#include <cmath>

#include "JournalConnection.h"

namespace waga::journal {

bool CreateJournalTables(QSqlDatabase& db, QSqlError& error) {
    static const char* const kStatements[] = {
        "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)",
        "INSERT INTO schema_version(version) SELECT 1 WHERE NOT EXISTS "
        "(SELECT 1 FROM schema_version)",
        "CREATE TABLE IF NOT EXISTS lines("
        " seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, first_ms INTEGER NOT NULL,"
        " last_ms INTEGER NOT NULL, count INTEGER NOT NULL, text TEXT NOT NULL,"
        " raw BLOB NOT NULL, value REAL, unit TEXT NOT NULL, port TEXT NOT NULL)",
        "CREATE INDEX IF NOT EXISTS lines_first_ms ON lines(first_ms)",
        // The central upload's acknowledged position (central/UploadBatch.h).
        "CREATE TABLE IF NOT EXISTS upload_state("
        " target TEXT PRIMARY KEY, acked_seq INTEGER NOT NULL, acked_count INTEGER NOT NULL,"
        " acked_last_ms INTEGER NOT NULL, updated_ms INTEGER NOT NULL)",
    };
    return InWriteTransaction(db, error, [&db](QSqlError& failure) {
        QSqlQuery query(db);
        for (const char* statement : kStatements) {
            if (!query.exec(QString::fromLatin1(statement))) {
                failure = query.lastError();
                return false;
            }
        }
        return true;
    });
}

QString ColumnList(RowColumns columns) {
    return columns == RowColumns::All
               ? QStringLiteral("seq, kind, first_ms, last_ms, count, text, raw, value, unit, port")
               : QStringLiteral("seq, first_ms, last_ms, count, value");
}

namespace {

// One column of a row: the value checked against what the table holds there.
class RowReader {
  public:
    RowReader(const QSqlQuery& query, QString& problem) : query_(query), problem_(problem) {}

    bool Integer(int column, const char* name, std::int64_t& out) {
        const QVariant v = query_.value(column);
        if (v.isNull() || v.typeId() != QMetaType::LongLong) return Bad(name, v);
        out = v.toLongLong();
        return true;
    }
    bool Text(int column, const char* name, std::string& out) {
        const QVariant v = query_.value(column);
        if (v.isNull() || v.typeId() != QMetaType::QString) return Bad(name, v);
        const QByteArray utf8 = v.toString().toUtf8();
        out.assign(utf8.constData(), std::size_t(utf8.size()));
        return true;
    }
    bool Bytes(int column, const char* name, std::string& out) {
        const QVariant v = query_.value(column);
        if (v.isNull() || v.typeId() != QMetaType::QByteArray) return Bad(name, v);
        const QByteArray bytes = v.toByteArray();
        out.assign(bytes.constData(), std::size_t(bytes.size()));
        return true;
    }
    bool Number(int column, const char* name, std::optional<double>& out) {
        const QVariant v = query_.value(column);
        out.reset();
        if (v.isNull()) return true;
        if (v.typeId() != QMetaType::Double && v.typeId() != QMetaType::LongLong) {
            return Bad(name, v);
        }
        const double number = v.toDouble();
        if (!std::isfinite(number)) {
            problem_ = QStringLiteral("kolumna %1: „%2” nie jest liczbą skończoną")
                           .arg(QString::fromLatin1(name), v.toString());
            return false;
        }
        out = number;
        return true;
    }
    bool Kind(int column, JournalKind& out) {
        std::string name;
        if (!Text(column, "kind", name)) return false;
        const auto kind = JournalKindFromName(name);
        if (!kind) {
            problem_ = QStringLiteral("nieznany rodzaj „%1”").arg(QString::fromStdString(name));
            return false;
        }
        out = *kind;
        return true;
    }
    bool Seq(int column, std::int64_t& out) {
        if (!Integer(column, "seq", out)) return false;
        if (SeqInRange(out)) return true;
        problem_ = QString::fromStdString(SeqRangeProblem(out));
        return false;
    }
    bool Count(int column, std::int64_t& out) {
        if (!Integer(column, "count", out)) return false;
        if (out >= 1) return true;
        problem_ = QStringLiteral("liczba linii %1 (co najmniej 1)").arg(out);
        return false;
    }

  private:
    bool Bad(const char* name, const QVariant& v) {
        problem_ =
            v.isNull()
                ? QStringLiteral("brak wartości w kolumnie %1").arg(QString::fromLatin1(name))
                : QStringLiteral("kolumna %1 ma wartość „%2” innego typu")
                      .arg(QString::fromLatin1(name), v.toString().left(40));
        return false;
    }

    const QSqlQuery& query_;
    QString& problem_;
};

}  // namespace

bool RowFromQuery(const QSqlQuery& query, RowColumns columns, JournalRow& row, QString& problem) {
    RowReader read(query, problem);
    bool ok = read.Seq(0, row.seq);
    if (ok && columns == RowColumns::All) {
        ok = read.Kind(1, row.kind) && read.Integer(2, "first_ms", row.firstMs) &&
             read.Integer(3, "last_ms", row.lastMs) && read.Count(4, row.count) &&
             read.Text(5, "text", row.text) && read.Bytes(6, "raw", row.raw) &&
             read.Number(7, "value", row.value) && read.Text(8, "unit", row.unit) &&
             read.Text(9, "port", row.port);
    } else if (ok) {
        ok = read.Integer(1, "first_ms", row.firstMs) && read.Integer(2, "last_ms", row.lastMs) &&
             read.Count(3, row.count) && read.Number(4, "value", row.value);
    }
    if (!ok) problem = QStringLiteral("wiersz %1: %2").arg(query.value(0).toString(), problem);
    return ok;
}

}  // namespace waga::journal

#include "RowsDigest.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "JournalFile.h"

namespace central {

std::optional<RowsDigest> JournalRowsDigest(const QString& journalPath, QString& error) {
    waga::journal::JournalDb journal;
    if (!journal.Open(journalPath, waga::journal::JournalAccess::Reader)) {
        error = journal.LastError().text();
        return std::nullopt;
    }
    QSqlQuery q(journal.Database());
    if (!q.exec(QStringLiteral(
            "SELECT count(*), group_concat(r, ';') FROM (SELECT seq || '|' || kind || '|' ||"
            " hex(raw) || '|' || count || '|' || first_ms || '|' || last_ms AS r FROM lines"
            " ORDER BY seq)")) ||
        !q.next()) {
        error = q.lastError().text();
        return std::nullopt;
    }
    RowsDigest digest;
    digest.rows = q.value(0).toLongLong();
    if (digest.rows > 0) {
        digest.md5 = QString::fromLatin1(
            QCryptographicHash::hash(q.value(1).toString().toUtf8(), QCryptographicHash::Md5)
                .toHex());
    }
    return digest;
}

std::optional<RowsDigest> CentralRowsDigest(QSqlDatabase& central, const QString& station,
                                            QString& error) {
    QSqlQuery q(central);
    q.prepare(
        QStringLiteral("SELECT count(*), coalesce(md5(string_agg(seq || '|' || kind || '|' ||"
                       " upper(encode(raw, 'hex')) || '|' || count || '|' ||"
                       " (extract(epoch FROM first_at) * 1000)::bigint || '|' ||"
                       " (extract(epoch FROM last_at) * 1000)::bigint, ';' ORDER BY seq)), '')"
                       " FROM weighing_lines WHERE station = ?"));
    q.addBindValue(station);
    if (!q.exec() || !q.next()) {
        error = q.lastError().text();
        return std::nullopt;
    }
    return RowsDigest{q.value(0).toLongLong(), q.value(1).toString()};
}

}  // namespace central

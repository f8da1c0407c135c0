#pragma once
// One query on each side that sums up a station's rows: how many, and an MD5 over (seq, kind,
// received bytes, count, first and last time in ms) in seq order. Equal digests mean the central
// rows equal the journal's; the tests compare them after every fault, and an operator can run
// the same two queries (doc/pomoc.htm).

#include <QString>
#include <optional>

class QSqlDatabase;

namespace central {

struct RowsDigest {
    qint64 rows = 0;
    QString md5;  // lower-case hex; empty when there are no rows
    bool operator==(const RowsDigest&) const = default;
};

// The journal side: the journal at `journalPath`, read through the journal module.
std::optional<RowsDigest> JournalRowsDigest(const QString& journalPath, QString& error);
// The central side (PostgreSQL connection), for one station.
std::optional<RowsDigest> CentralRowsDigest(QSqlDatabase& central, const QString& station,
                                            QString& error);

}  // namespace central

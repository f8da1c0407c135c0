#include "JournalReader.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

#include "JournalFile.h"

using waga::journal::JournalAccess;
using waga::journal::JournalDb;

namespace {
constexpr std::size_t kToldKept = 1000;

ServiceEvent::Kind EventKind(JournalKind kind) {
    switch (kind) {
        case JournalKind::Reading:
            return ServiceEvent::Kind::Reading;
        case JournalKind::Gap:
            return ServiceEvent::Kind::Gap;
        case JournalKind::Report:
            break;
    }
    return ServiceEvent::Kind::Report;
}

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}
}  // namespace

JournalReader::JournalReader(QString path)
    : path_(std::move(path)),
      state_(QStringLiteral("brak pliku")),
      db_(std::make_unique<JournalDb>()) {}

JournalReader::~JournalReader() = default;

bool JournalReader::Open() {
    if (db_->IsOpen()) return true;
    if (!QFileInfo::exists(path_)) {
        state_ = QStringLiteral("brak pliku");
        return false;
    }
    if (!db_->Open(path_, JournalAccess::Reader)) {
        state_ = QStringLiteral("błąd: ") + db_->LastError().text();
        db_->Close();
        return false;
    }
    state_ = QStringLiteral("otwarty");
    return true;
}

bool JournalReader::Available() { return Open(); }

bool JournalReader::RowsAfter(std::int64_t since, int limit, std::vector<ServiceEvent>& rows,
                              std::vector<std::int64_t>* firstMs, qint64 maxBytes,
                              bool* truncated) {
    using waga::journal::RowColumns;
    if (truncated) *truncated = false;
    if (!Open()) return false;
    {
        QSqlQuery query(db_->Database());
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT ") + waga::journal::ColumnList(RowColumns::All) +
                      QStringLiteral(" FROM lines WHERE seq > ? ORDER BY seq LIMIT ?"));
        query.addBindValue(static_cast<qlonglong>(since));
        query.addBindValue(limit);
        if (query.exec()) {
            qint64 bytes = 0;
            JournalRow journalRow;
            QString problem;
            while (query.next()) {
                if (bytes > maxBytes) {  // rows of any length: the answer stays bounded
                    if (truncated) *truncated = true;
                    break;
                }
                if (!waga::journal::RowFromQuery(query, RowColumns::All, journalRow, problem)) {
                    const std::int64_t seq = query.value(0).toLongLong();
                    if (told_.size() < kToldKept && told_.insert(seq).second) {
                        waga::journal::TellOnStandardError(
                            QStringLiteral("serwer wagi pominął %1").arg(problem));
                    }
                    continue;
                }
                ServiceEvent row;
                row.seq = journalRow.seq;
                row.kind = EventKind(journalRow.kind);
                row.timeMs = journalRow.lastMs;
                row.count = journalRow.count;
                row.text = Text(journalRow.text);
                row.value = journalRow.value;
                row.unit = Text(journalRow.unit);
                row.port = Text(journalRow.port);
                row.connected = true;
                if (row.kind == ServiceEvent::Kind::Reading)
                    row.reading = row.text.simplified().remove(' ');
                bytes += 64 + qint64(journalRow.raw.size()) +
                         2 * (row.text.size() + row.unit.size() + row.port.size());
                if (firstMs) firstMs->push_back(journalRow.firstMs);
                rows.push_back(std::move(row));
            }
            if (!query.lastError().isValid()) {
                state_ = QStringLiteral("otwarty");
                return true;
            }
        }
        state_ = QStringLiteral("błąd: ") + query.lastError().text();
    }
    db_->Close();  // opened afresh next time (the file may have been replaced)
    return false;
}

bool JournalReader::Select(const QString& sql, const QVariantList& values,
                           waga::journal::RowColumns columns,
                           const std::function<void(const JournalRow&)>& take) {
    if (!Open()) return false;
    {
        QSqlQuery query(db_->Database());
        query.setForwardOnly(true);
        query.prepare(sql);
        for (const QVariant& value : values) query.addBindValue(value);
        if (query.exec()) {
            JournalRow row;
            row.kind = JournalKind::Reading;
            QString problem;
            while (query.next()) {
                if (!waga::journal::RowFromQuery(query, columns, row, problem)) {
                    const std::int64_t seq = query.value(0).toLongLong();
                    if (told_.size() < kToldKept && told_.insert(seq).second) {
                        waga::journal::TellOnStandardError(
                            QStringLiteral("serwer wagi pominął %1").arg(problem));
                    }
                    continue;
                }
                take(row);
            }
            if (!query.lastError().isValid()) return true;
        }
        state_ = QStringLiteral("błąd: ") + query.lastError().text();
    }
    db_->Close();
    return false;
}

bool JournalReader::Trend(std::int64_t sinceMs, std::vector<PlotPoint>& points,
                          std::vector<TimeSpan>& gaps, std::int64_t& lastSeq) {
    using waga::journal::ColumnList;
    using waga::journal::RowColumns;
    lastSeq = 0;
    const auto point = [&](const JournalRow& row) {
        if (row.lastMs < sinceMs) return;
        AppendRowPoints(points, row);
        lastSeq = std::max(lastSeq, row.seq);
    };
    const QString select = QStringLiteral("SELECT ") + ColumnList(RowColumns::Span) +
                           QStringLiteral(" FROM lines WHERE kind = 'reading' AND ");
    // The run that began before and lasts into the time, then the rows that begin in it.
    const bool ok =
        Select(select + QStringLiteral("first_ms < ? ORDER BY first_ms DESC, seq DESC LIMIT 1"),
               {qint64{sinceMs}}, RowColumns::Span, point) &&
        Select(select + QStringLiteral("first_ms >= ? ORDER BY first_ms, seq"), {qint64{sinceMs}},
               RowColumns::Span, point) &&
        Select(QStringLiteral("SELECT ") + ColumnList(RowColumns::All) +
                   QStringLiteral(" FROM lines WHERE kind = 'gap' AND last_ms >= ? AND first_ms "
                                  ">= ? ORDER BY first_ms"),
               {qint64{sinceMs}, qint64{sinceMs - 86'400'000}}, RowColumns::All,
               [&](const JournalRow& row) {
                   gaps.push_back({row.firstMs, row.lastMs});
               });
    std::stable_sort(points.begin(), points.end(),
                     [](const PlotPoint& a, const PlotPoint& b) { return a.ms < b.ms; });
    return ok;
}

bool JournalReader::LastReports(int reports, std::vector<ServiceEvent>& rows) {
    using waga::journal::ColumnList;
    using waga::journal::RowColumns;
    const bool ok = Select(QStringLiteral("SELECT ") + ColumnList(RowColumns::All) +
                               QStringLiteral(" FROM lines WHERE kind = 'report' ORDER BY seq "
                                              "DESC LIMIT ?"),
                           {reports}, RowColumns::All, [&rows](const JournalRow& row) {
                               ServiceEvent event;
                               event.seq = row.seq;
                               event.kind = ServiceEvent::Kind::Report;
                               event.timeMs = row.lastMs;
                               event.text = Text(row.text);
                               event.unit = Text(row.unit);
                               event.port = Text(row.port);
                               rows.push_back(std::move(event));
                           });
    std::reverse(rows.begin(), rows.end());
    return ok;
}

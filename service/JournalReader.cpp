#include "JournalReader.h"

#include <QFileInfo>
#include <QSqlError>
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
    if (truncated) *truncated = false;
    if (!Open()) return false;
    if (!pages_) pages_ = std::make_unique<waga::journal::RowPages>(db_->Database());
    qint64 bytes = 0;
    QSqlError error;
    const bool read = pages_->Read(
        since, limit,
        [&](const JournalRow& journalRow, const QString& problem) {
            if (bytes > maxBytes) {  // rows of any length: the answer stays bounded
                if (truncated) *truncated = true;
                return false;
            }
            if (!problem.isEmpty()) {
                Skip(journalRow.seq, problem);
                return true;
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
            return true;
        },
        error);
    return Finished(read, error);
}

void JournalReader::Skip(std::int64_t seq, const QString& problem) {
    if (told_.size() < kToldKept && told_.insert(seq).second) {
        waga::journal::TellOnStandardError(QStringLiteral("serwer wagi pominął %1").arg(problem));
    }
}

bool JournalReader::Finished(bool read, const QSqlError& error) {
    if (read) {
        state_ = QStringLiteral("otwarty");
        return true;
    }
    state_ = QStringLiteral("błąd: ") + error.text();
    pages_.reset();
    db_->Close();  // opened afresh next time (the file may have been replaced)
    return false;
}

// Hands the rows that make sense to `take`; a row that does not is told once.
waga::journal::RowVisitor JournalReader::Taking(
    const std::function<void(const JournalRow&)>& take) {
    return [this, take](const JournalRow& row, const QString& problem) {
        if (problem.isEmpty()) {
            take(row);
        } else {
            Skip(row.seq, problem);
        }
        return true;
    };
}

bool JournalReader::Trend(std::int64_t sinceMs, std::vector<PlotPoint>& points,
                          std::vector<TimeSpan>& gaps, std::int64_t& lastSeq) {
    lastSeq = 0;
    if (!Open()) return false;
    QSqlDatabase db = db_->Database();
    QSqlError error;
    const bool read =
        waga::journal::ReadReadingSpans(db, sinceMs, Taking([&](const JournalRow& row) {
                                            if (row.lastMs < sinceMs) return;
                                            AppendRowPoints(points, row);
                                            lastSeq = std::max(lastSeq, row.seq);
                                        }),
                                        error) &&
        waga::journal::ReadGaps(db, sinceMs, Taking([&](const JournalRow& row) {
                                    gaps.push_back({row.firstMs, row.lastMs});
                                }),
                                error);
    std::stable_sort(points.begin(), points.end(),
                     [](const PlotPoint& a, const PlotPoint& b) { return a.ms < b.ms; });
    return Finished(read, error);
}

bool JournalReader::LastReports(int reports, std::vector<ServiceEvent>& rows) {
    if (!Open()) return false;
    QSqlDatabase db = db_->Database();
    QSqlError error;
    const bool read =
        waga::journal::ReadLastReports(db, reports, Taking([&rows](const JournalRow& row) {
                                           ServiceEvent event;
                                           event.seq = row.seq;
                                           event.kind = ServiceEvent::Kind::Report;
                                           event.timeMs = row.lastMs;
                                           event.text = Text(row.text);
                                           event.unit = Text(row.unit);
                                           event.port = Text(row.port);
                                           rows.push_back(std::move(event));
                                       }),
                                       error);
    std::reverse(rows.begin(), rows.end());
    return Finished(read, error);
}

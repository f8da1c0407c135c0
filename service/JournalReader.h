#pragma once
// Read-only access to the journal from the server's thread: its own connection through the
// journal module, opened when first needed and again after a failure. Its content is untrusted:
// any text, any length; a row the journal module cannot make sense of is left out and told on
// standard error (once per row), never changed into another.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "JournalExport.h"
#include "ServiceEvent.h"

class QSqlError;

namespace waga::journal {
class JournalDb;
class RowPages;
using RowVisitor = std::function<bool(const JournalRow& row, const QString& problem)>;
}  // namespace waga::journal

class JournalReader {
  public:
    explicit JournalReader(QString path);
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // Rows with seq > `since`, in order, at most `limit`, and no more once their texts pass
    // `maxBytes` (`truncated` then says so). False when the journal cannot be read (State()
    // says why).
    bool RowsAfter(std::int64_t since, int limit, std::vector<ServiceEvent>& rows,
                   std::vector<std::int64_t>* firstMs = nullptr, qint64 maxBytes = 16 << 20,
                   bool* truncated = nullptr);
    // The live page's start: the readings' points since `sinceMs` (a run that began before and
    // lasts into it too), the gap rows of that time, and the highest seq among them; the last
    // `reports` report lines. False when the journal cannot be read.
    bool Trend(std::int64_t sinceMs, std::vector<PlotPoint>& points, std::vector<TimeSpan>& gaps,
               std::int64_t& lastSeq);
    bool LastReports(int reports, std::vector<ServiceEvent>& rows);
    // "otwarty", "brak pliku" or "błąd: <cause>".
    QString State() const { return state_; }
    bool Available();

  private:
    bool Open();
    // Hands each row that makes sense to `take`; a row that does not is told once.
    waga::journal::RowVisitor Taking(const std::function<void(const JournalRow&)>& take);
    void Skip(std::int64_t seq, const QString& problem);
    // The state after a read; a failed read closes the connection (the file may be replaced).
    bool Finished(bool read, const QSqlError& error);

    QString path_;
    QString state_;
    std::unique_ptr<waga::journal::JournalDb> db_;
    std::unique_ptr<waga::journal::RowPages> pages_;  // on db_, while it is open
    std::set<std::int64_t> told_;                     // rows left out and told already
};

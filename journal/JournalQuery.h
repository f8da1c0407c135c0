#pragma once
// Reading dziennik.sqlite: rows of a time range in time order, for the history window and
// waga-journal. Its own connection (usable on the thread that made it). The file's content is
// untrusted: a row with a kind it does not know is skipped, a wrong type reads as empty or no
// value, never a crash.

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "JournalRows.h"

namespace waga::journal {

class JournalQuery {
  public:
    explicit JournalQuery(const QString& path);
    ~JournalQuery();
    JournalQuery(const JournalQuery&) = delete;
    JournalQuery& operator=(const JournalQuery&) = delete;

    bool IsOpen() const { return open_; }
    // The reason the file could not be opened or read (Polish, for the operator).
    const QString& ErrorText() const { return error_; }

    // Calls `row` for each row that has a line in [fromMs, toMs), in time order, until it
    // returns false. False when the file could not be read (ErrorText says why).
    // `withReadings` false leaves the readings out (reports and gaps only).
    bool ForEach(std::int64_t fromMs, std::int64_t toMs,
                 const std::function<bool(const JournalRow&)>& row, bool withReadings = true);
    std::vector<JournalRow> Rows(std::int64_t fromMs, std::int64_t toMs);

    // The same for one kind only, reading the time columns, the count and the value alone
    // (text, bytes, unit and port stay empty): what a plot needs, a few times faster.
    bool ForEachSpan(JournalKind kind, std::int64_t fromMs, std::int64_t toMs,
                     const std::function<void(const JournalRow&)>& row);
    // The unit of the last reading before `toMs` ("" when there is none).
    QString LastUnit(std::int64_t toMs);

  private:
    QString connection_;
    bool open_ = false;
    QString error_;
};

}  // namespace waga::journal

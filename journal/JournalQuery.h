#pragma once
// Reading dziennik.sqlite: rows of a time range in time order, for the history window and
// waga-journal. Its own read-only connection (usable on the thread that made it). The file's
// content is untrusted: a row the journal cannot make sense of (RowFromQuery) is left out and
// told in Problems(), never changed into another.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "JournalFile.h"
#include "JournalRows.h"

namespace waga::journal {

class JournalQuery {
  public:
    explicit JournalQuery(const QString& path);
    JournalQuery(const JournalQuery&) = delete;
    JournalQuery& operator=(const JournalQuery&) = delete;

    bool IsOpen() const { return db_.IsOpen(); }
    // The reason the file could not be opened or read (Polish, for the operator).
    const QString& ErrorText() const { return error_; }
    // The rows left out so far, each with its seq and why (the first few), and how many.
    const QStringList& Problems() const { return problems_; }
    std::int64_t SkippedRows() const { return skipped_; }

    // Calls `row` for each row that has a line in [fromMs, toMs), in time order, until it
    // returns false. False when the file could not be read (ErrorText says why).
    // `withReadings` false leaves the readings out (reports and gaps only).
    bool ForEach(std::int64_t fromMs, std::int64_t toMs,
                 const std::function<bool(const JournalRow&)>& row, bool withReadings = true);
    // The same for one kind only, reading the time columns, the count and the value alone
    // (text, bytes, unit and port stay empty): what a plot needs, a few times faster.
    bool ForEachSpan(JournalKind kind, std::int64_t fromMs, std::int64_t toMs,
                     const std::function<void(const JournalRow&)>& row);
    // The unit of the last reading before `toMs` ("" when there is none).
    bool LastUnit(std::int64_t toMs, QString& unit);

  private:
    bool Select(RowColumns columns, const QString& condition, const QVariantList& values,
                const std::function<bool(const JournalRow&)>& row, JournalKind kind);
    void Skip(const QString& problem);

    JournalDb db_;
    QString error_;
    QStringList problems_;
    std::int64_t skipped_ = 0;
};

}  // namespace waga::journal

#pragma once
// What the history window shows, decided without widgets: the range of a day, the hover text,
// a report line's row, the summary under the plot.

#include <QDate>
#include <QString>
#include <cstdint>

#include "JournalExport.h"

struct HistoryRange {
    std::int64_t fromMs;
    std::int64_t toMs;
};

// Local midnight to the next local midnight.
HistoryRange DayRange(const QDate& day);
// "12,5 kg" and the local time "2026-12-07 10:40:01,123" on the next line.
QString HoverText(const PlotPoint& point, const QString& unit);
// A report row's time column: local "hh:mm:ss,zzz", with the date when the range spans days.
QString ReportTimeText(std::int64_t utcMs, bool withDate);
// A report row's text column; a gap row says how many lines were not kept.
QString ReportRowText(const JournalRow& row);
// The line under the plot: "Odczyty: 345 600 (wiersze: 12), raporty: 40".
QString SummaryText(std::int64_t readingLines, std::int64_t readingRows, std::int64_t reports);
// Rows of the journal left out because they make no sense, with the first one's problem.
QString SkippedRowsText(std::int64_t rows, const QString& firstProblem);
// Local time offset for the export functions.
int LocalUtcOffset(std::int64_t utcMs);

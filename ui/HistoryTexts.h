#pragma once
// What the history window shows, decided without widgets: the range of a day, the hover text,
// a report line's row, the summary under the plot.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

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
// The same text on one line, as the list shows it: each control character (a line break, a tab)
// as its picture (U+2400 + code, "␊" for a line feed). The whole text goes to the tooltip.
QString OneLineText(const QString& text);
// The line under the plot: "Odczyty: 345 600 (wiersze: 12), raporty: 40".
QString SummaryText(std::int64_t readingLines, std::int64_t readingRows, std::int64_t reports);
// Rows of the journal left out because they make no sense, with the first one's problem.
QString SkippedRowsText(std::int64_t rows, const QString& firstProblem);
// Local time offset for the export functions.
int LocalUtcOffset(std::int64_t utcMs);

// A value axis that holds [low, high] with round ticks: the range widened to whole steps of
// 1, 2 or 5 times a power of ten, about `ticks` of them, and never below zero for values that
// are not.
struct ValueAxisRange {
    double min;
    double max;
    double step;
};
ValueAxisRange FitValueAxis(double low, double high, int ticks = 6);

// The span of values a value axis fits so that a few far outliers (a numeric line that is no
// weight, "+48 123 456") do not flatten the rest: at most one value in a hundred (at least one)
// at either end is left out, and only when the gap to the rest is wider than kOutlierFactor
// times the rest's span and magnitude (and 1). `outside` counts what was left out; with no
// values low > high.
inline constexpr double kOutlierFactor = 1000;
struct ValueSpan {
    double low;
    double high;
    int outside = 0;
};
ValueSpan RobustValueSpan(std::vector<double> values);

// The part of a range that holds data (readings and report rows), with a margin of a twentieth
// of it (at least half a minute) either side, within the range; nullopt without data.
std::optional<HistoryRange> DataSpan(const std::vector<PlotPoint>& points,
                                     const std::vector<JournalRow>& reports, HistoryRange range);

// The time axis's ticks on round local times (whole seconds, minutes, hours or days), at most
// `maxTicks` in [fromMs, toMs], each with its label ("08:30", "08:30:15", "07.12" or
// "07.12 08:00" as the step and the span need).
struct TimeTick {
    std::int64_t ms;
    QString label;
};
std::vector<TimeTick> TimeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks);

// A time typed into "Od" or "Do": "RRRR-MM-DD gg:mm:ss", "RRRR-MM-DD gg:mm" or "RRRR-MM-DD"
// (also with a 'T'), or a time alone ("gg:mm", "gg:mm:ss") on `shownDay`, local; nullopt for
// anything else.
std::optional<QDateTime> ParseRangeTime(const QString& text, const QDate& shownDay);
// How "Od" and "Do" show a time.
QString RangeTimeText(std::int64_t utcMs);

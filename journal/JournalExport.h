#pragma once
// Export of journal rows for a spreadsheet (CSV as a Polish spreadsheet imports it: UTF-8 with a
// byte-order mark, ';' between fields, decimal comma, local time; XLSX in JournalXlsx.h) and for
// scripts (JSON). The history window and waga-journal share these functions, so both write the
// same bytes. Rows come from a file and are untrusted: any text, any value.
//
// The CSV is made so that no import runs or mangles a cell: every field is quoted, numbers and
// times too, so that an import that splits at commas as well (a spreadsheet's default) never
// cuts "17,70" in two (with the Tekst column imported as text, " 7.5" and "0012345" stay as
// they are), a text that a
// spreadsheet would take for a formula (starting with '=', '+', '-', '@', a tab or a carriage
// return, unless it is a plain number such as "-0,25") gets a leading apostrophe inside the
// quotes, and times are ISO 8601 with a 'T' and the milliseconds after a dot, which a
// spreadsheet reads as a date-time in any locale and an import split at commas leaves whole.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "JournalRows.h"

// Seconds east of UTC of the local time at a UTC instant (the caller knows the time zone).
using UtcOffsetFn = std::function<int(std::int64_t utcMs)>;

// "yyyy-mm-dd hh:mm:ss,zzz" in local time, as the windows show a time.
std::string FormatLocalTime(std::int64_t utcMs, const UtcOffsetFn& offset);
// "yyyy-mm-ddThh:mm:ss.zzz" in local time, as the CSV holds it.
std::string FormatCsvTime(std::int64_t utcMs, const UtcOffsetFn& offset);
// "yyyy-mm-ddThh:mm:ss.zzz+hh:mm" (ISO 8601 with the offset and milliseconds).
std::string FormatIsoTime(std::int64_t utcMs, const UtcOffsetFn& offset);
// The shortest text that reads back as the same double; nullopt-free callers pass finite values.
std::string FormatNumber(double value, char decimalSeparator);

// The decimals a reading was received with (" 17.70": 2, "100": 0), read from its bytes by the
// rule that made it a reading. Nullopt for a row without a finite value, a number with an
// exponent, more decimals than a double carries (kMaxDecimals), or bytes that are no number (a
// foreign file): its value is then shown in the shortest form.
inline constexpr int kMaxDecimals = 15;
std::optional<int> ValueDecimals(const JournalRow& row);
// A row's value with its received decimals ("17,70"), else in the shortest form; empty without
// a finite value.
std::string FormatValue(const JournalRow& row, char decimalSeparator);

// CSV: the byte-order mark and header row, then one line per row (CR LF ends each line).
std::string CsvHeader();
std::string CsvRow(const JournalRow& row, const UtcOffsetFn& offset);
// A text field as the CSV holds it: quoted, with a leading apostrophe when a spreadsheet would
// take the text for a formula (FormulaLike).
std::string CsvText(std::string_view text);
bool FormulaLike(std::string_view text);

// The columns of every export, in order ("Od", "Do", "Liczba", "Rodzaj", "Tekst", "Wartość",
// "Jednostka", "Port"), and the Polish name of a row's kind ("odczyt", "raport", "przerwa").
const std::vector<std::string_view>& ExportColumns();
std::string_view ExportKindName(JournalKind kind);
// Local time as a spreadsheet's date-time serial number (days since 1899-12-30).
double SpreadsheetTime(std::int64_t utcMs, const UtcOffsetFn& offset);

// JSON: "[" + objects joined by ",\n" + "]\n".
std::string JsonRow(const JournalRow& row, const UtcOffsetFn& offset);
std::string Base64(std::string_view bytes);

// Which rows an export holds.
enum class ExportKinds : std::uint8_t { Readings, Reports, All };
bool ExportIncludes(ExportKinds kinds, JournalKind kind);

// A point of the readings plot, and how the line reaches it from the point before.
struct PlotPoint {
    // Line: joined; Run: the last time of a run of identical readings, joined to the run's first
    // (never a gap between them); Break: the first point after a gap, where the line starts anew.
    enum class Join : std::uint8_t { Line, Run, Break };
    std::int64_t ms;
    double value;
    Join join = Join::Line;
    bool operator==(const PlotPoint&) const = default;
};

// A row's points, appended: its first time, and its last time when it holds several lines.
// Rows without a finite value give none.
void AppendRowPoints(std::vector<PlotPoint>& points, const JournalRow& row);

// A time span without readings in the journal (a gap row's first and last time).
struct TimeSpan {
    std::int64_t fromMs;
    std::int64_t toMs;
};

// Marks the breaks of the line (points in time order): the first point after a gap row, and a
// point that comes longer after the one before than `factor` times the usual time between rows
// (the median; at least `floorMs`). Within a run of identical readings there is no break.
void MarkBreaks(std::vector<PlotPoint>& points, const std::vector<TimeSpan>& gaps, int factor = 10,
                std::int64_t floorMs = 2000);

// The point nearest in time to `ms` (points in time order); nullptr when there are none.
const PlotPoint* NearestPoint(const std::vector<PlotPoint>& points, std::int64_t ms);

// Reduces points to at most four per pixel column (the first, the lowest, the highest and the
// last of the column, in time order) so that a line drawn through them looks the same as one
// through every point. `columns` columns cover [fromMs, toMs); points outside are dropped. A
// column's points are taken apart at a break, so the break stays where it is.
std::vector<PlotPoint> ReduceMinMax(const std::vector<PlotPoint>& points, std::int64_t fromMs,
                                    std::int64_t toMs, int columns);

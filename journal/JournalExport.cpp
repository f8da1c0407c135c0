#include "JournalExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "LineRouting.h"
#include "NumberText.h"

namespace {

struct CivilTime {
    std::int64_t year;
    int month, day, hour, minute, second, milli;
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

CivilTime ToCivil(std::int64_t localMs) {
    CivilTime t{};
    const std::int64_t days = FloorDiv(localMs, 86'400'000);
    std::int64_t msOfDay = localMs - days * 86'400'000;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(msOfDay / 3'600'000);
    msOfDay %= 3'600'000;
    t.minute = static_cast<int>(msOfDay / 60'000);
    msOfDay %= 60'000;
    t.second = static_cast<int>(msOfDay / 1000);
    t.milli = static_cast<int>(msOfDay % 1000);
    return t;
}

std::string FormatCivil(const CivilTime& t, char dateTimeSep, char milliSep) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d%c%02d:%02d:%02d%c%03d",
                  static_cast<long long>(t.year), t.month, t.day, dateTimeSep, t.hour, t.minute,
                  t.second, milliSep, t.milli);
    return buffer;
}

// A plain number ("-0,25", "+12.5"): what a spreadsheet reads as a number, never a formula.
bool PlainNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits) return false;
    if (i < text.size() && (text[i] == ',' || text[i] == '.')) {
        const std::size_t fraction = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == fraction) return false;
    }
    return i == text.size();
}

void JsonString(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

std::string_view ExportKindName(JournalKind kind) {
    switch (kind) {
        case JournalKind::Reading:
            return "odczyt";
        case JournalKind::Report:
            return "raport";
        case JournalKind::Gap:
            return "przerwa";
    }
    return "raport";
}

namespace {

// Times outside years 0000..9999 (only a damaged or foreign file holds them) are shown at the
// nearest end, so that adding the offset can never overflow.
std::int64_t ClampTime(std::int64_t utcMs) {
    constexpr std::int64_t kFirst = -62'167'219'200'000;  // 0000-01-01T00:00:00Z
    constexpr std::int64_t kLast = 253'402'300'799'999;   // 9999-12-31T23:59:59.999Z
    return std::clamp(utcMs, kFirst + 86'400'000, kLast - 86'400'000);
}

}  // namespace

namespace {
std::int64_t LocalMs(std::int64_t utcMs, const UtcOffsetFn& offset) {
    utcMs = ClampTime(utcMs);
    return utcMs + std::int64_t{std::clamp(offset(utcMs), -86'399, 86'399)} * 1000;
}
}  // namespace

std::string FormatLocalTime(std::int64_t utcMs, const UtcOffsetFn& offset) {
    return FormatCivil(ToCivil(LocalMs(utcMs, offset)), ' ', ',');
}

std::string FormatCsvTime(std::int64_t utcMs, const UtcOffsetFn& offset) {
    return FormatCivil(ToCivil(LocalMs(utcMs, offset)), 'T', '.');
}

double SpreadsheetTime(std::int64_t utcMs, const UtcOffsetFn& offset) {
    constexpr std::int64_t kDays1899To1970 = 25569;
    const std::int64_t local = LocalMs(utcMs, offset);
    const std::int64_t days = FloorDiv(local, 86'400'000);
    // Whole days and the part of the day apart, so the milliseconds survive the double.
    return double(days + kDays1899To1970) + double(local - days * 86'400'000) / 86'400'000.0;
}

std::string FormatIsoTime(std::int64_t utcMs, const UtcOffsetFn& offset) {
    utcMs = ClampTime(utcMs);
    const int seconds = std::clamp(offset(utcMs), -86'399, 86'399);
    std::string out = FormatCivil(ToCivil(utcMs + std::int64_t{seconds} * 1000), 'T', '.');
    const int minutes = std::abs(seconds) / 60;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return out + buffer;
}

std::string FormatNumber(double value, char decimalSeparator) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string out(buffer, result.ptr);
    std::replace(out.begin(), out.end(), '.', decimalSeparator);
    return out;
}

std::optional<int> ValueDecimals(const JournalRow& row) {
    if (!row.value || !std::isfinite(*row.value)) return std::nullopt;
    // The reading's test text, as the line's classification makes it.
    const std::optional<int> decimals =
        NumberTextDecimals(DotsToCommas(RemoveSpaces(row.raw)), ',');
    if (!decimals || *decimals > kMaxDecimals) return std::nullopt;
    return decimals;
}

std::string FormatValue(const JournalRow& row, char decimalSeparator) {
    if (!row.value || !std::isfinite(*row.value)) return {};
    const std::optional<int> decimals = ValueDecimals(row);
    if (!decimals) return FormatNumber(*row.value, decimalSeparator);
    char buffer[400];  // the largest double has 309 digits before the point
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, *row.value,
                                      std::chars_format::fixed, *decimals);
    if (result.ec != std::errc()) return FormatNumber(*row.value, decimalSeparator);
    std::string out(buffer, result.ptr);
    std::replace(out.begin(), out.end(), '.', decimalSeparator);
    return out;
}

const std::vector<std::string_view>& ExportColumns() {
    static const std::vector<std::string_view> kColumns = {
        "Od", "Do", "Liczba", "Rodzaj", "Tekst", "Warto\xC5\x9B\xC4\x87", "Jednostka", "Port"};
    return kColumns;
}

std::string CsvHeader() {
    std::string out = "\xEF\xBB\xBF";
    for (std::string_view column : ExportColumns()) {
        if (out.size() > 3) out += ';';
        out += column;
    }
    return out + "\r\n";
}

bool FormulaLike(std::string_view text) {
    if (text.empty()) return false;
    switch (text.front()) {
        case '=':
        case '@':
        case '\t':
        case '\r':
            return true;
        case '+':
        case '-':
            return !PlainNumber(text);
        default:
            return false;
    }
}

std::string CsvText(std::string_view text) {
    std::string out = "\"";
    if (FormulaLike(text)) out += '\'';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvRow(const JournalRow& row, const UtcOffsetFn& offset) {
    std::string out = '"' + FormatCsvTime(row.firstMs, offset) + "\";\"";
    out += FormatCsvTime(row.lastMs, offset);
    out += "\";\"";
    out += std::to_string(row.count);
    out += "\";";
    out += CsvText(ExportKindName(row.kind));
    out += ';';
    out += CsvText(row.text);
    out += ';';
    const std::string value = FormatValue(row, ',');
    if (!value.empty()) out += '"' + value + '"';
    out += ';';
    out += CsvText(row.unit);
    out += ';';
    out += CsvText(row.port);
    out += "\r\n";
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string JsonRow(const JournalRow& row, const UtcOffsetFn& offset) {
    std::string out = "{\"seq\":" + std::to_string(row.seq) + ",\"kind\":";
    JsonString(out, JournalKindName(row.kind));
    out += ",\"first\":\"" + FormatIsoTime(row.firstMs, offset) + "\",\"last\":\"" +
           FormatIsoTime(row.lastMs, offset) + "\",\"count\":" + std::to_string(row.count) +
           ",\"text\":";
    JsonString(out, row.text);
    out += ",\"value\":";
    out += row.value && std::isfinite(*row.value) ? FormatNumber(*row.value, '.') : "null";
    const std::optional<int> decimals = ValueDecimals(row);
    out += ",\"decimals\":";
    out += decimals ? std::to_string(*decimals) : "null";
    out += ",\"unit\":";
    JsonString(out, row.unit);
    out += ",\"port\":";
    JsonString(out, row.port);
    out += ",\"bytes\":\"" + Base64(row.raw) + "\"}";
    return out;
}

bool ExportIncludes(ExportKinds kinds, JournalKind kind) {
    switch (kinds) {
        case ExportKinds::Readings:
            return kind == JournalKind::Reading;
        case ExportKinds::Reports:
            return kind == JournalKind::Report;
        case ExportKinds::All:
            return kind != JournalKind::Gap;
    }
    return false;
}

void AppendRowPoints(std::vector<PlotPoint>& points, const JournalRow& row) {
    if (!row.value || !std::isfinite(*row.value)) return;
    points.push_back({row.firstMs, *row.value});
    if (row.count > 1 && row.lastMs > row.firstMs) {
        points.push_back({row.lastMs, *row.value, PlotPoint::Join::Run});
    }
}

void MarkBreaks(std::vector<PlotPoint>& points, const std::vector<TimeSpan>& gaps, int factor,
                std::int64_t floorMs) {
    std::vector<std::int64_t> intervals;
    intervals.reserve(points.size());
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (points[i].join != PlotPoint::Join::Run) {
            intervals.push_back(points[i].ms - points[i - 1].ms);
        }
    }
    std::int64_t longest = std::numeric_limits<std::int64_t>::max();
    if (!intervals.empty()) {
        const auto middle = intervals.begin() + std::ptrdiff_t(intervals.size() / 2);
        std::nth_element(intervals.begin(), middle, intervals.end());
        longest = std::max(floorMs, *middle > longest / factor ? longest : *middle * factor);
    }
    std::size_t gap = 0;
    for (std::size_t i = 1; i < points.size(); ++i) {
        PlotPoint& p = points[i];
        if (p.join == PlotPoint::Join::Run) continue;
        const std::int64_t before = points[i - 1].ms;
        // The gap rows that end before this interval are passed; one that reaches into it
        // breaks the line here.
        while (gap < gaps.size() && gaps[gap].toMs < before) ++gap;
        const bool gapRow = gap < gaps.size() && gaps[gap].fromMs <= p.ms;
        if (gapRow || p.ms - before > longest) p.join = PlotPoint::Join::Break;
    }
}

std::vector<PlotPoint> ReduceMinMax(const std::vector<PlotPoint>& points, std::int64_t fromMs,
                                    std::int64_t toMs, int columns) {
    std::vector<PlotPoint> out;
    if (columns <= 0 || toMs <= fromMs) return out;
    const double span = static_cast<double>(toMs - fromMs);
    std::size_t i = 0;
    while (i < points.size()) {
        const PlotPoint& p = points[i];
        if (p.ms < fromMs || p.ms >= toMs) {
            ++i;
            continue;
        }
        const auto column =
            static_cast<std::int64_t>(static_cast<double>(p.ms - fromMs) / span * columns);
        std::size_t first = i, low = i, high = i, last = i;
        for (++i; i < points.size(); ++i) {
            const PlotPoint& q = points[i];
            if (q.ms < fromMs || q.ms >= toMs) break;
            if (q.join == PlotPoint::Join::Break ||
                static_cast<std::int64_t>(static_cast<double>(q.ms - fromMs) / span * columns) !=
                    column) {
                break;
            }
            if (q.value < points[low].value) low = i;
            if (q.value > points[high].value) high = i;
            last = i;
        }
        std::size_t picks[4] = {first, low, high, last};
        std::sort(picks, picks + 4);
        for (int k = 0; k < 4; ++k) {
            if (k > 0 && picks[k] == picks[k - 1]) continue;
            out.push_back(points[picks[k]]);
        }
    }
    return out;
}

const PlotPoint* NearestPoint(const std::vector<PlotPoint>& points, std::int64_t ms) {
    if (points.empty()) return nullptr;
    const auto after =
        std::lower_bound(points.begin(), points.end(), ms,
                         [](const PlotPoint& p, std::int64_t t) { return p.ms < t; });
    if (after == points.begin()) return &*after;
    if (after == points.end()) return &points.back();
    const auto before = after - 1;
    return (ms - before->ms <= after->ms - ms) ? &*before : &*after;
}

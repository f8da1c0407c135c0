#include "HistoryTexts.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>

HistoryRange DayRange(const QDate& day) {
    return {day.startOfDay().toMSecsSinceEpoch(), day.addDays(1).startOfDay().toMSecsSinceEpoch()};
}

int LocalUtcOffset(std::int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
}

QString HoverText(const PlotPoint& point, const QString& unit) {
    QString value = QString::fromStdString(FormatNumber(point.value, ','));
    if (!unit.isEmpty()) value += QLatin1Char(' ') + unit;
    return value + QLatin1Char('\n') +
           QString::fromStdString(FormatLocalTime(point.ms, LocalUtcOffset));
}

QString ReportTimeText(std::int64_t utcMs, bool withDate) {
    const QString full = QString::fromStdString(FormatLocalTime(utcMs, LocalUtcOffset));
    return withDate ? full : full.mid(11);
}

QString ReportRowText(const JournalRow& row) {
    if (row.kind == JournalKind::Gap) {
        return QStringLiteral("(pominięto wierszy: %1) %2")
            .arg(row.count)
            .arg(QString::fromStdString(row.text));
    }
    return QString::fromStdString(row.text);
}

QString OneLineText(const QString& text) {
    QString line = text;
    for (QChar& c : line)
        if (c.unicode() < 0x20) c = QChar(char16_t(0x2400 + c.unicode()));
    return line;
}

QString SummaryText(std::int64_t readingLines, std::int64_t readingRows, std::int64_t reports) {
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    return QStringLiteral("Odczyty: %1 (wiersze: %2), raporty: %3")
        .arg(polish.toString(qlonglong{readingLines}), polish.toString(qlonglong{readingRows}),
             polish.toString(qlonglong{reports}));
}

QString SkippedRowsText(std::int64_t rows, const QString& firstProblem) {
    return QStringLiteral("Pominięto wierszy dziennika, których nie można odczytać: %1 (%2).")
        .arg(rows)
        .arg(firstProblem);
}

ValueAxisRange FitValueAxis(double low, double high, int ticks) {
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) return {0, 1, 0.2};
    if (high == low) {
        const double around = std::max(std::abs(low) * 0.05, 1.0);
        const bool keepPositive = low >= 0 && low - around < 0;
        low = keepPositive ? 0 : low - around;
        high += around;
    }
    const double raw = (high - low) / std::max(ticks, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power * 10;
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (power * factor >= raw) {
            step = power * factor;
            break;
        }
    }
    double min = std::floor(low / step) * step;
    const double max = std::ceil(high / step) * step;
    if (low >= 0 && min < 0) min = 0;
    return {min, max > min ? max : min + step, step};
}

namespace {

// How many values (at most `most`) at the top of sorted `v` lie so far above the rest that they
// are left out. The rest's span is measured without its own lowest `most` values, which may be
// far outliers of the other end.
std::size_t FarAbove(const std::vector<double>& v, std::size_t most) {
    std::size_t cut = 0;
    for (std::size_t n = 1; n <= most && n < v.size(); ++n) {
        const double restHigh = v[v.size() - n - 1];
        const double restLow = v[std::min(most, v.size() - n - 1)];
        const double scale =
            std::max({restHigh - restLow, std::abs(restLow), std::abs(restHigh), 1.0});
        if (v[v.size() - n] - restHigh > kOutlierFactor * scale) cut = n;
    }
    return cut;
}

}  // namespace

ValueSpan RobustValueSpan(std::vector<double> values) {
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    if (values.empty()) return {1, 0, 0};
    std::sort(values.begin(), values.end());
    const std::size_t most = std::max<std::size_t>(1, values.size() / 100);
    const std::size_t top = FarAbove(values, most);
    // The low end seen from below: the same rule on the values turned over.
    std::vector<double> turned(values.rbegin() + std::ptrdiff_t(top), values.rend());
    for (double& v : turned) v = -v;
    const std::size_t bottom = FarAbove(turned, most);
    return {values[bottom], values[values.size() - 1 - top], int(top + bottom)};
}

std::optional<HistoryRange> DataSpan(const std::vector<PlotPoint>& points,
                                     const std::vector<JournalRow>& reports, HistoryRange range) {
    std::int64_t first = range.toMs, last = range.fromMs;
    bool any = false;
    const auto take = [&](std::int64_t ms) {
        if (ms < range.fromMs || ms >= range.toMs) return;
        first = std::min(first, ms);
        last = std::max(last, ms);
        any = true;
    };
    for (const PlotPoint& p : points) take(p.ms);
    for (const JournalRow& row : reports) {
        take(row.firstMs);
        take(std::min(row.lastMs, range.toMs - 1));
    }
    if (!any) return std::nullopt;
    const std::int64_t margin = std::max<std::int64_t>((last - first) / 20, 30'000);
    return HistoryRange{std::max(range.fromMs, first - margin),
                        std::min(range.toMs, last + margin)};
}

std::vector<TimeTick> TimeTicks(std::int64_t fromMs, std::int64_t toMs, int maxTicks) {
    static constexpr std::int64_t kSteps[] = {
        1'000,      2'000,      5'000,      10'000,     15'000,      30'000,     60'000,
        120'000,    300'000,    600'000,    900'000,    1'800'000,   3'600'000,  7'200'000,
        10'800'000, 21'600'000, 43'200'000, 86'400'000, 172'800'000, 604'800'000};
    std::vector<TimeTick> ticks;
    if (toMs <= fromMs || maxTicks < 1) return ticks;
    const std::int64_t span = toMs - fromMs;
    std::int64_t step = kSteps[std::size(kSteps) - 1];
    for (const std::int64_t candidate : kSteps) {
        if (span / candidate <= maxTicks) {
            step = candidate;
            break;
        }
    }
    const bool withDate = span > 86'400'000;
    const QString format = step >= 86'400'000 ? QStringLiteral("dd.MM")
                           : withDate         ? QStringLiteral("dd.MM HH:mm")
                           : step < 60'000    ? QStringLiteral("HH:mm:ss")
                                              : QStringLiteral("HH:mm");
    // Round in local time: the offset at the start holds for the span (a change of the clock
    // within it moves the later ticks by its hour, still on whole minutes).
    const std::int64_t offset = std::int64_t{LocalUtcOffset(fromMs)} * 1000;
    const std::int64_t local = fromMs + offset;
    std::int64_t tick = (local / step + (local % step > 0 ? 1 : 0)) * step - offset;
    for (; tick <= toMs && int(ticks.size()) < maxTicks + 1; tick += step) {
        ticks.push_back({tick, QDateTime::fromMSecsSinceEpoch(tick).toString(format)});
    }
    return ticks;
}

std::optional<QDateTime> ParseRangeTime(const QString& text, const QDate& shownDay) {
    const QString trimmed = text.trimmed();
    for (const char* format : {"H:mm:ss", "H:mm"}) {
        const QTime time = QTime::fromString(trimmed, QString::fromLatin1(format));
        if (time.isValid() && shownDay.isValid()) return QDateTime(shownDay, time);
    }
    for (const char* format :
         {"yyyy-MM-dd H:mm:ss", "yyyy-MM-dd H:mm", "yyyy-MM-ddTH:mm:ss", "yyyy-MM-ddTH:mm"}) {
        const QDateTime time = QDateTime::fromString(trimmed, QString::fromLatin1(format));
        if (time.isValid()) return time;
    }
    const QDate day = QDate::fromString(trimmed, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid()) return day.startOfDay();
    return std::nullopt;
}

QString RangeTimeText(std::int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

#include "HistoryTexts.h"

#include <QDateTime>
#include <QLocale>

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

#include "ExportOptions.h"

#include <QDateTime>
#include <QTimeZone>

bool ParseLocalTime(const QString& text, bool endOfDay, std::int64_t& utcMs) {
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid()) {
        const QDate day = endOfDay ? date.addDays(1) : date;
        utcMs = day.startOfDay().toMSecsSinceEpoch();
        return true;
    }
    for (const char* format : {"yyyy-MM-ddTHH:mm", "yyyy-MM-ddTHH:mm:ss"}) {
        const QDateTime time = QDateTime::fromString(text, QString::fromLatin1(format));
        if (time.isValid()) {
            utcMs = time.toMSecsSinceEpoch();
            return true;
        }
    }
    return false;
}

bool ParseExportOptions(const QStringList& args, ExportOptions& options, QString& error) {
    const QString command = args.isEmpty() ? QString() : args.front();
    qsizetype i = 1;
    if (command == QLatin1String("backup") && args.size() >= 2 &&
        !args[1].startsWith(QLatin1String("--"))) {
        options.command = ExportOptions::Command::Backup;
        options.backupFile = args[1];
        i = 2;
    } else if (command != QLatin1String("export")) {
        error = QStringLiteral(
            "Użycie: waga-journal export [--from RRRR-MM-DD[Tgg:mm[:ss]]] "
            "[--to ...] [--kind readings|reports|all] [--format csv|json] "
            "[--journal ŚCIEŻKA]\n"
            "        waga-journal backup PLIK [--journal ŚCIEŻKA]");
        return false;
    }
    const bool backup = options.command == ExportOptions::Command::Backup;
    for (; i < args.size(); ++i) {
        const QString& name = args[i];
        if (i + 1 >= args.size()) {
            error = QStringLiteral("Brak wartości opcji %1.").arg(name);
            return false;
        }
        const QString value = args[++i];
        if (name == QLatin1String("--journal")) {
            options.journal = value;
        } else if (backup) {
            error = QStringLiteral("Nieznana opcja: %1").arg(name);
            return false;
        } else if (name == QLatin1String("--from") || name == QLatin1String("--to")) {
            const bool to = name == QLatin1String("--to");
            if (!ParseLocalTime(value, to, to ? options.toMs : options.fromMs)) {
                error = QStringLiteral("Niepoprawny czas %1: %2").arg(name, value);
                return false;
            }
        } else if (name == QLatin1String("--kind")) {
            if (value == QLatin1String("readings")) {
                options.kinds = ExportKinds::Readings;
            } else if (value == QLatin1String("reports")) {
                options.kinds = ExportKinds::Reports;
            } else if (value == QLatin1String("all")) {
                options.kinds = ExportKinds::All;
            } else {
                error = QStringLiteral("Niepoprawny rodzaj: %1").arg(value);
                return false;
            }
        } else if (name == QLatin1String("--format")) {
            if (value != QLatin1String("csv") && value != QLatin1String("json")) {
                error = QStringLiteral("Niepoprawny format: %1").arg(value);
                return false;
            }
            options.json = value == QLatin1String("json");
        } else {
            error = QStringLiteral("Nieznana opcja: %1").arg(name);
            return false;
        }
    }
    if (options.fromMs >= options.toMs) {
        error = QStringLiteral("Początek zakresu (--from) nie jest przed końcem (--to).");
        return false;
    }
    return true;
}

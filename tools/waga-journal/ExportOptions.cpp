#include "ExportOptions.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

namespace {

const QString kTimeFormats = QStringLiteral(
    "RRRR-MM-DD, RRRR-MM-DDTgg:mm lub RRRR-MM-DDTgg:mm:ss (czas lokalny, np. 2026-12-07T08:30)");

QString GeneralHelp() {
    return QStringLiteral(
        "waga-journal: dziennik ważeń (dziennik.sqlite) dla arkuszy i skryptów.\n"
        "\n"
        "Użycie:\n"
        "  waga-journal export [OPCJE]        wiersze zakresu czasu jako CSV, JSON lub XLSX\n"
        "  waga-journal backup PLIK [--journal ŚCIEŻKA]\n"
        "                                     bezpieczna kopia dziennika, także w czasie pracy\n"
        "  waga-journal verify [--journal ŚCIEŻKA] [--key ODCISK]\n"
        "                                     sprawdza pieczęć dziennika (także kopii)\n"
        "  waga-journal verify-export PLIK [--key ODCISK]\n"
        "                                     sprawdza podpis eksportu (PLIK.podpis)\n"
        "  waga-journal key                   odcisk klucza stacji, który ją podpisuje\n"
        "  waga-journal --help                ta pomoc\n"
        "  waga-journal --version             wersja i SHA-256 pliku programu\n"
        "  waga-journal export --help         opcje eksportu\n"
        "\n"
        "Kod wyjścia: 0 gotowe; 1 dziennika nie można odczytać, wiersz pominięto albo wyniku\n"
        "nie można zapisać (przyczyna na standardowym wyjściu błędów); 2 błędne argumenty.\n"
        "Więcej: man waga-journal\n");
}

QString ExportHelp() {
    return QStringLiteral(
               "Użycie: waga-journal export [OPCJE]\n"
               "\n"
               "  --from CZAS       początek zakresu (domyślnie początek dziennika)\n"
               "  --to CZAS         koniec zakresu, bez niego; sama data to koniec tego dnia\n"
               "  --kind readings|reports|all   które linie (domyślnie all)\n"
               "  --format csv|json|xlsx        format (domyślnie csv)\n"
               "  --output PLIK     zapis do pliku (cały albo wcale); bez niej standardowe\n"
               "                    wyjście; xlsx tylko do pliku\n"
               "  --journal ŚCIEŻKA plik dziennika (domyślnie dziennik.sqlite w bieżącym "
               "folderze)\n"
               "\n"
               "CZAS: %1.\n"
               "\n"
               "Arkusz kalkulacyjny: XLSX otwiera się dwuklikiem (daty, liczby i teksty mają\n"
               "swoje typy, wartość ma tyle miejsc po przecinku, ile przysłała waga). W CSV\n"
               "każde pole jest w cudzysłowie, więc domyślny import arkusza (separatory\n"
               "przecinek, średnik i tabulator) nie dzieli liczb; aby teksty zostały dokładnie\n"
               "takie, jakie przysłała waga, ustaw w imporcie kolumnom Rodzaj, Tekst, Jednostka\n"
               "i Port typ Tekst (zestaw znaków UTF-8, język polski, wykrywanie liczb\n"
               "specjalnych włączone, obliczanie formuł wyłączone). Tekst, który arkusz wziąłby\n"
               "za formułę (zaczyna się od =, +, -, @), ma w CSV apostrof na początku.\n")
        .arg(kTimeFormats);
}

QString BackupHelp() {
    return QStringLiteral(
        "Użycie: waga-journal backup PLIK [--journal ŚCIEŻKA]\n"
        "\n"
        "Zapisuje do PLIKU kopię dziennika ze wszystkimi zatwierdzonymi wierszami, także gdy\n"
        "program właśnie pisze (jeden plik SQLite, bez dziennika zapisu obok).\n");
}

QString VerifyHelp() {
    return QStringLiteral(
        "Użycie: waga-journal verify [--journal ŚCIEŻKA] [--key ODCISK]\n"
        "\n"
        "Sprawdza pieczęć dziennika: każdy wiersz z jego ogniwem łańcucha i podpis stacji.\n"
        "Pokazuje liczbę wierszy, zakres, wiersze z pieczęcią i bez niej oraz odcisk klucza,\n"
        "a potem jedną linię na każdą nieprawidłowość (seq i co jest nie tak).\n"
        "  --key ODCISK   odcisk klucza stacji (64 cyfry szesnastkowe, jak podaje\n"
        "                 waga-journal key); bez niej klucz tego użytkownika, jeśli jest\n"
        "Kod wyjścia: 0 nienaruszony; 1 nieprawidłowości; 2 dziennika nie można odczytać.\n"
        "Opis pieczęci i jej formatu: /usr/share/doc/waga/evidence.md\n");
}

QString VerifyExportHelp() {
    return QStringLiteral(
        "Użycie: waga-journal verify-export PLIK [--key ODCISK]\n"
        "\n"
        "Sprawdza eksport (CSV, JSON, XLSX) z jego podpisem PLIK.podpis: skrót SHA-256 pliku,\n"
        "podpis stacji i jej klucz (--key albo klucz tego użytkownika, jeśli jest).\n"
        "Kod wyjścia: 0 nienaruszony; 1 plik albo podpis zmieniono; 2 nie można ich odczytać.\n");
}

bool WantsHelp(const QString& arg) {
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
}

}  // namespace

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

ParseOutcome ParseExportOptions(const QStringList& args, ExportOptions& options, QString& text) {
    const QString command = args.isEmpty() ? QString() : args.front();
    if (command.isEmpty()) {
        text = QStringLiteral("Nie podano polecenia.\n\n") + GeneralHelp();
        return ParseOutcome::Error;
    }
    if (WantsHelp(command)) {
        text = GeneralHelp();
        return ParseOutcome::Help;
    }
    const bool backup = command == QLatin1String("backup");
    const bool verifyExport = command == QLatin1String("verify-export");
    const bool verify = command == QLatin1String("verify") || verifyExport;
    if (command == QLatin1String("key")) {
        options.command = ExportOptions::Command::Key;
        if (args.size() == 1) return ParseOutcome::Run;
        text = QStringLiteral("Polecenie key nie ma opcji.");
        return ParseOutcome::Error;
    }
    if (!backup && !verify && command != QLatin1String("export")) {
        text = QStringLiteral(
                   "Nieznane polecenie: %1 (export, backup, verify lub key; waga-journal --help "
                   "pokazuje pomoc).")
                   .arg(command);
        return ParseOutcome::Error;
    }
    if (args.mid(1).contains(QStringLiteral("--help")) ||
        args.mid(1).contains(QStringLiteral("-h"))) {
        text = backup
                   ? BackupHelp()
                   : (verifyExport ? VerifyExportHelp() : (verify ? VerifyHelp() : ExportHelp()));
        return ParseOutcome::Help;
    }
    if (verify) options.command = ExportOptions::Command::Verify;
    qsizetype i = 1;
    if (backup) {
        options.command = ExportOptions::Command::Backup;
        if (args.size() < 2 || args[1].startsWith(QLatin1String("--"))) {
            text = QStringLiteral(
                "Polecenie backup wymaga nazwy pliku kopii: waga-journal "
                "backup PLIK [--journal ŚCIEŻKA].");
            return ParseOutcome::Error;
        }
        options.backupFile = args[1];
        i = 2;
    }
    if (verifyExport) {
        options.command = ExportOptions::Command::VerifyExport;
        if (args.size() < 2 || args[1].startsWith(QLatin1String("--"))) {
            text = QStringLiteral(
                "Polecenie verify-export wymaga nazwy pliku eksportu: waga-journal "
                "verify-export PLIK [--key ODCISK].");
            return ParseOutcome::Error;
        }
        options.backupFile = args[1];
        i = 2;
    }
    QSet<QString> seen;
    for (; i < args.size(); ++i) {
        const QString& name = args[i];
        const bool known = (name == QLatin1String("--journal") && !verifyExport) ||
                           (verify && name == QLatin1String("--key")) ||
                           (!backup && !verify &&
                            (name == QLatin1String("--from") || name == QLatin1String("--to") ||
                             name == QLatin1String("--kind") || name == QLatin1String("--format") ||
                             name == QLatin1String("--output")));
        if (!known) {
            text = QStringLiteral("Nieznana opcja polecenia %1: %2").arg(command, name);
            return ParseOutcome::Error;
        }
        if (seen.contains(name)) {
            text = QStringLiteral("Opcja %1 podana więcej niż raz.").arg(name);
            return ParseOutcome::Error;
        }
        seen.insert(name);
        if (i + 1 >= args.size()) {
            text = QStringLiteral("Brak wartości opcji %1.").arg(name);
            return ParseOutcome::Error;
        }
        const QString value = args[++i];
        if (name == QLatin1String("--journal")) {
            options.journal = value;
        } else if (name == QLatin1String("--key")) {
            static const QRegularExpression kHex(QStringLiteral("^[0-9a-f]{64}$"));
            options.key = value.toLower();
            if (!kHex.match(options.key).hasMatch()) {
                text = QStringLiteral("Niepoprawny odcisk w --key: „%1” (64 cyfry szesnastkowe).")
                           .arg(value);
                return ParseOutcome::Error;
            }
        } else if (name == QLatin1String("--output")) {
            options.output = value;
        } else if (name == QLatin1String("--from") || name == QLatin1String("--to")) {
            const bool to = name == QLatin1String("--to");
            if (!ParseLocalTime(value, to, to ? options.toMs : options.fromMs)) {
                text = QStringLiteral("Niepoprawny czas w %1: „%2”. Oczekiwany format: %3.")
                           .arg(name, value, kTimeFormats);
                return ParseOutcome::Error;
            }
        } else if (name == QLatin1String("--kind")) {
            if (value == QLatin1String("readings")) {
                options.kinds = ExportKinds::Readings;
            } else if (value == QLatin1String("reports")) {
                options.kinds = ExportKinds::Reports;
            } else if (value == QLatin1String("all")) {
                options.kinds = ExportKinds::All;
            } else {
                text = QStringLiteral(
                           "Niepoprawny rodzaj w --kind: „%1” (readings, reports lub "
                           "all).")
                           .arg(value);
                return ParseOutcome::Error;
            }
        } else {  // --format
            const auto format = waga::journal::ExportFormatFromName(value);
            if (!format) {
                text = QStringLiteral("Niepoprawny format w --format: „%1” (csv, json lub xlsx).")
                           .arg(value);
                return ParseOutcome::Error;
            }
            options.format = *format;
        }
    }
    if (options.format == waga::journal::ExportFormat::Xlsx && options.output.isEmpty()) {
        text = QStringLiteral("Format xlsx zapisuje się tylko do pliku: podaj --output PLIK.xlsx.");
        return ParseOutcome::Error;
    }
    if (options.fromMs >= options.toMs) {
        text = QStringLiteral("Początek zakresu (--from) nie jest przed końcem (--to).");
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

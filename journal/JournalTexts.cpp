#include "JournalTexts.h"

#include <QCoreApplication>
#include <cstdio>

namespace waga::journal {

namespace {
// The primary result codes of SQLite that the driver passes on as the native error code.
constexpr int kSqlitePerm = 3;
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADb = 26;
}  // namespace

JournalFault ClassifySqlError(const QSqlError& error) {
    if (error.type() == QSqlError::NoError) return JournalFault::None;
    if (error.nativeErrorCode() == QLatin1String(kConflictCode)) return JournalFault::Conflict;
    if (error.nativeErrorCode() == QLatin1String(kRefusedCode)) return JournalFault::Refused;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xFF;
    if (!ok) {
        // The driver leaves the code out of a failed commit; SQLite's message for each code is
        // fixed, so it tells the cause as well.
        static const struct {
            const char* text;
            JournalFault fault;
        } kMessages[] = {
            {"database or disk is full", JournalFault::DiskFull},
            {"readonly database", JournalFault::ReadOnly},
            {"unable to open database file", JournalFault::ReadOnly},
            {"database is locked", JournalFault::Locked},
            {"database table is locked", JournalFault::Locked},
            {"file is not a database", JournalFault::Damaged},
            {"database disk image is malformed", JournalFault::Damaged},
        };
        const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
        for (const auto& m : kMessages) {
            if (text.contains(QLatin1String(m.text), Qt::CaseInsensitive)) return m.fault;
        }
        return JournalFault::Other;
    }
    switch (code) {
        case kSqliteFull:
            return JournalFault::DiskFull;
        case kSqliteReadOnly:
        case kSqliteCantOpen:
        case kSqlitePerm:
            return JournalFault::ReadOnly;
        case kSqliteBusy:
        case kSqliteLocked:
            return JournalFault::Locked;
        case kSqliteCorrupt:
        case kSqliteNotADb:
            return JournalFault::Damaged;
        default:
            return JournalFault::Other;
    }
}

QString FaultText(JournalFault fault, const QString& detail) {
    switch (fault) {
        case JournalFault::None:
            return {};
        case JournalFault::DiskFull:
            return QStringLiteral("Brak miejsca na dysku. Zapis zostanie ponowiony.");
        case JournalFault::ReadOnly:
            return QStringLiteral(
                "Nie można zapisywać w folderze roboczym (tylko do odczytu). Zapis "
                "zostanie ponowiony.");
        case JournalFault::Locked:
            return QStringLiteral(
                "Plik dziennika jest zablokowany przez inny program. Zapis "
                "zostanie ponowiony.");
        case JournalFault::Damaged:
            return QStringLiteral(
                       "Plik dziennika był uszkodzony; odłożono go jako %1 "
                       "i założono nowy.")
                .arg(detail);
        case JournalFault::Conflict:
            return QStringLiteral(
                       "Numer wiersza (%1) jest już w pliku dziennika przy innej linii; nic "
                       "nie scalono. Zapis zostanie ponowiony.")
                .arg(detail);
        case JournalFault::Refused:
            return detail + QStringLiteral(" Zapis zostanie ponowiony.");
        case JournalFault::Other:
            return QStringLiteral("Błąd zapisu (%1). Zapis zostanie ponowiony.").arg(detail);
    }
    return {};
}

QString DamageFoundText(const QString& found) {
    return QStringLiteral(
               "Sprawdzenie przy starcie: plik dziennika jest uszkodzony (%1). Nowe wiersze są "
               "zapisywane dalej, ale części dawnych może nie dać się odczytać ani wysłać; zrób "
               "kopię pliku dziennika.")
        .arg(found);
}

namespace {
// The cause in a few words: as a reader tells it, and as the close tells it on standard error;
// null for a fault that has none of its own.
struct ShortTexts {
    const char* reader;
    const char* close;
};

ShortTexts Short(JournalFault fault) {
    switch (fault) {
        case JournalFault::DiskFull:
            return {"brak miejsca na dysku", "brak miejsca na dysku"};
        case JournalFault::ReadOnly:
            return {"nie można pisać w folderze dziennika", "folder tylko do odczytu"};
        case JournalFault::Locked:
            return {"plik dziennika jest zablokowany przez inny program",
                    "plik zablokowany przez inny program"};
        case JournalFault::Damaged:
            return {"plik dziennika jest uszkodzony", "plik uszkodzony"};
        case JournalFault::Refused:  // a reader tells the refusal itself
            return {nullptr, "plik dziennika nie jest zwykłym plikiem"};
        case JournalFault::None:
        case JournalFault::Conflict:
        case JournalFault::Other:
            break;
    }
    return {nullptr, nullptr};
}
}  // namespace

QString ShortFaultText(const QSqlError& error) {
    const JournalFault fault = ClassifySqlError(error);
    if (fault == JournalFault::None) return QStringLiteral("brak czasu przy zamykaniu");
    const char* text = Short(fault).close;
    return text ? QString::fromUtf8(text) : error.text();
}

QString JournalErrorText(const QSqlError& error, const QString& doing) {
    // SQLite's own words; Qt's ("Unable to fetch row") only when SQLite said nothing.
    const QString detail = error.databaseText().trimmed().isEmpty()
                               ? error.text().trimmed()
                               : error.databaseText().trimmed();
    const char* polish = Short(ClassifySqlError(error)).reader;
    const QString text =
        polish ? QString::fromUtf8(polish) + QStringLiteral(" (") + detail + QLatin1Char(')')
               : detail;
    return QStringLiteral("dziennik: ") +
           (doing.isEmpty() ? text : doing + QStringLiteral(": ") + text);
}

void TellOnStandardError(const QString& text) {
    const QString program = QCoreApplication::instance() != nullptr
                                ? QCoreApplication::applicationName()
                                : QStringLiteral("Project1");
    std::fprintf(stderr, "%s\n",
                 (program + QStringLiteral(": Dziennik: ") + text).toLocal8Bit().constData());
    std::fflush(stderr);
}

}  // namespace waga::journal

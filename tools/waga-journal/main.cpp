// waga-journal: the weighing journal exported for spreadsheets and scripts, and a copy of it
// taken safely while the program writes.
//   waga-journal export [--from ...] [--to ...] [--kind ...] [--format csv|json|xlsx]
//                       [--output FILE] [--journal PATH]
//   waga-journal backup FILE [--journal PATH]
//   waga-journal verify [--journal PATH] [--key FINGERPRINT]   (the seal, doc/evidence.md)
//   waga-journal verify-export FILE [--key FINGERPRINT]          (FILE.podpis, the export's)
//   waga-journal key                                            (the station key's fingerprint)
//   waga-journal --help, waga-journal export --help, waga-journal --version
// Exit status: 0 done, 1 the journal could not be read or the result written out (or a row of it
// made no sense and was left out: each is told on standard error), 2 wrong arguments. verify:
// 0 intact, 1 a finding (one line each on standard output), 2 the journal cannot be read.

#include <QCoreApplication>
#include <QDateTime>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "ExportManifest.h"
#include "ExportOptions.h"
#include "JournalExport.h"
#include "JournalExportFile.h"
#include "JournalFile.h"
#include "JournalQuery.h"
#include "ProgramIdentity.h"
#include "SealCheck.h"
#include "StationKey.h"

namespace {

using waga::journal::ExportOutcome;

int LocalOffset(std::int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
}

void Tell(const QString& text) {
    std::fprintf(stderr, "waga-journal: %s\n", text.toLocal8Bit().constData());
}

QString WriteFailure(int error) {
    return QStringLiteral("Nie można zapisać wyniku na standardowe wyjście: %1")
        .arg(QString::fromLocal8Bit(std::strerror(error)));
}

// What an export left out or cut is told; a row left out makes the status 1.
int Finish(const ExportOutcome& outcome) {
    if (!outcome.ok) {
        Tell(outcome.error);
        return 1;
    }
    for (const QString& problem : outcome.problems) Tell(QStringLiteral("Pominięto ") + problem);
    if (!outcome.unsignedWhy.isEmpty()) Tell(outcome.unsignedWhy);
    if (outcome.shortened > 0) {
        Tell(QStringLiteral("Skrócono tekstów, których nie mieści komórka arkusza (32 767 znaków): "
                            "%1; całe są w eksporcie CSV i JSON.")
                 .arg(outcome.shortened));
    }
    if (outcome.skipped > 0) {
        Tell(QStringLiteral("Pominięto wierszy, których nie można odczytać: %1.")
                 .arg(outcome.skipped));
        return 1;
    }
    return 0;
}

int Export(const ExportOptions& options) {
    const waga::journal::ExportRange range{options.fromMs, options.toMs, options.kinds};
    if (!options.output.isEmpty()) {
        return Finish(waga::journal::ExportToFile(options.journal, range, options.format,
                                                  options.output, LocalOffset));
    }
    waga::journal::JournalQuery query(options.journal);
    if (!query.IsOpen()) {
        Tell(query.ErrorText());
        return 1;
    }
    int writeError = 0;
    ExportOutcome outcome = waga::journal::WriteExport(
        query, range, options.format, LocalOffset, [&writeError](std::string_view bytes) {
            if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size()) return true;
            writeError = errno;
            return false;
        });
    // What the buffer still holds is written now: a full disk may say so only here.
    if (std::fflush(stdout) != 0 && writeError == 0) writeError = errno;
    if (writeError != 0) {
        outcome.ok = false;
        outcome.error = WriteFailure(writeError);
    }
    return Finish(outcome);
}

int Backup(const ExportOptions& options) {
    QString error;
    if (!waga::journal::BackupJournal(options.journal, options.backupFile, error)) {
        Tell(error);
        return 1;
    }
    return 0;
}

bool Print(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
                             std::size_t(bytes.size()) &&
                         std::fflush(stdout) == 0;
    if (!written) Tell(WriteFailure(errno));
    return written;
}

int Verify(const ExportOptions& options) {
    std::optional<waga::journal::seal::Digest> expected;
    QString from;
    if (!options.key.isEmpty()) {
        const QByteArray bytes = QByteArray::fromHex(options.key.toLatin1());
        expected.emplace();
        std::copy(bytes.begin(), bytes.end(), expected->begin());
        from = QStringLiteral("--key");
    } else {
        waga::journal::StationKey key;
        QString error;
        if (key.Load(waga::journal::StationKeyPath(), error)) {
            expected = key.Fingerprint();
            from = waga::journal::StationKeyPath();
        }
    }
    const waga::journal::SealReport report =
        waga::journal::VerifyJournal(options.journal, expected);
    if (!report.readable) {
        Tell(report.error);
        return 2;
    }
    QString text = QStringLiteral("Dziennik: %1\n").arg(options.journal);
    text += expected ? QStringLiteral("Klucz stacji (%1): %2\n")
                           .arg(from, waga::journal::FingerprintText(*expected))
                     : QStringLiteral(
                           "Klucz stacji: nie podano (--key); porównaj odcisk "
                           "podpisu z odciskiem stacji\n");
    text += waga::journal::SealReportText(report);
    if (!Print(text)) return 2;
    return report.findings.empty() ? 0 : 1;
}

int VerifyExport(const ExportOptions& options) {
    std::optional<waga::journal::seal::Digest> expected;
    if (!options.key.isEmpty()) {
        const QByteArray bytes = QByteArray::fromHex(options.key.toLatin1());
        expected.emplace();
        std::copy(bytes.begin(), bytes.end(), expected->begin());
    } else {
        waga::journal::StationKey key;
        QString error;
        if (key.Load(waga::journal::StationKeyPath(), error)) expected = key.Fingerprint();
    }
    const waga::journal::ExportCheck check =
        waga::journal::VerifyExport(options.backupFile, expected);
    if (!check.readable) {
        Tell(check.error);
        return 2;
    }
    QString text = QStringLiteral("Eksport: %1\nWierszy: %2 (%3)\nOdcisk klucza: %4\n")
                       .arg(options.backupFile)
                       .arg(check.rows)
                       .arg(check.range, waga::journal::FingerprintText(check.fingerprint));
    for (const QString& finding : check.findings) text += finding + QLatin1Char('\n');
    text += check.findings.isEmpty()
                ? QStringLiteral("Wynik: nienaruszony\n")
                : QStringLiteral("Wynik: NIEPRAWIDŁOWOŚCI: %1\n").arg(check.findings.size());
    if (!Print(text)) return 2;
    return check.findings.isEmpty() ? 0 : 1;
}

int Key() {
    waga::journal::StationKey key;
    QString error;
    if (!key.Load(waga::journal::StationKeyPath(), error)) {
        Tell(error + QStringLiteral(" (Klucz tworzy pierwsze uruchomienie programu.)"));
        return 1;
    }
    return Print(waga::journal::FingerprintText(key.Fingerprint()) + QLatin1Char('\n')) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args == QStringList{QStringLiteral("--version")}) return PrintVersion("waga-journal");
    ExportOptions options;
    QString text;
    switch (ParseExportOptions(args, options, text)) {
        case ParseOutcome::Help: {
            const QByteArray help = text.toLocal8Bit();
            const bool written = std::fwrite(help.constData(), 1, std::size_t(help.size()),
                                             stdout) == std::size_t(help.size()) &&
                                 std::fflush(stdout) == 0;
            if (!written) Tell(WriteFailure(errno));
            return written ? 0 : 1;
        }
        case ParseOutcome::Error:
            Tell(text);
            return 2;
        case ParseOutcome::Run:
            break;
    }
    switch (options.command) {
        case ExportOptions::Command::Backup:
            return Backup(options);
        case ExportOptions::Command::Verify:
            return Verify(options);
        case ExportOptions::Command::VerifyExport:
            return VerifyExport(options);
        case ExportOptions::Command::Key:
            return Key();
        case ExportOptions::Command::Export:
            break;
    }
    return Export(options);
}

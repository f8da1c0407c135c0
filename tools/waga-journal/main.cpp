// waga-journal: the weighing journal exported to standard output, for scripts, and a copy of it
// taken safely while the program writes.
//   waga-journal export [--from ...] [--to ...] [--kind ...] [--format csv|json] [--journal PATH]
//   waga-journal backup FILE [--journal PATH]
// Exit status: 0 done, 1 the journal could not be read or written out (or a row of it made no
// sense and was left out: each is told on standard error), 2 wrong arguments.

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <string>

#include "ExportOptions.h"
#include "JournalExport.h"
#include "JournalFile.h"
#include "JournalQuery.h"

namespace {
int LocalOffset(std::int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
}

bool Write(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

void Tell(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

int Export(const ExportOptions& options) {
    waga::journal::JournalQuery query(options.journal);
    if (!query.IsOpen()) {
        Tell(query.ErrorText());
        return 1;
    }
    const UtcOffsetFn offset = LocalOffset;
    bool ok = Write(options.json ? "[" : CsvHeader());
    bool first = true;
    const bool read = query.ForEach(options.fromMs, options.toMs, [&](const JournalRow& row) {
        if (!ExportIncludes(options.kinds, row.kind)) return true;
        if (options.json) {
            ok = ok && Write((first ? "\n" : ",\n") + JsonRow(row, offset));
        } else {
            ok = ok && Write(CsvRow(row, offset));
        }
        first = false;
        return ok;
    });
    if (options.json) ok = ok && Write(first ? "]\n" : "\n]\n");
    ok = std::fflush(stdout) == 0 && ok;
    if (!read) {
        Tell(query.ErrorText());
        return 1;
    }
    for (const QString& problem : query.Problems()) Tell(QStringLiteral("Pominięto ") + problem);
    if (query.SkippedRows() > 0) {
        Tell(QStringLiteral("Pominięto wierszy, których nie można odczytać: %1.")
                 .arg(query.SkippedRows()));
        return 1;
    }
    return ok ? 0 : 1;
}

int Backup(const ExportOptions& options) {
    QString error;
    if (!waga::journal::BackupJournal(options.journal, options.backupFile, error)) {
        Tell(error);
        return 1;
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    ExportOptions options;
    QString error;
    if (!ParseExportOptions(args, options, error)) {
        Tell(error);
        return 2;
    }
    return options.command == ExportOptions::Command::Backup ? Backup(options) : Export(options);
}

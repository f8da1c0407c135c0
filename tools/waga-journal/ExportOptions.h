#pragma once
// waga-journal's command line:
//   export [--from T] [--to T] [--kind readings|reports|all] [--format csv|json|xlsx]
//          [--output FILE] [--journal PATH]
//   backup FILE [--journal PATH]
//   verify [--journal PATH] [--key FINGERPRINT]
//   verify-export FILE [--key FINGERPRINT]
//   verify-export FILE [--key FINGERPRINT]
//   key
//   --help (also after a command: its own help)
// Times are local: YYYY-MM-DD[Thh:mm[:ss]]; a --to with a date alone means the end of that day.
// Each option at most once; xlsx only into a file (--output).

#include <QString>
#include <QStringList>
#include <cstdint>
#include <limits>

#include "JournalExport.h"
#include "JournalExportFile.h"
#include "JournalFile.h"

struct ExportOptions {
    enum class Command : std::uint8_t { Export, Backup, Verify, VerifyExport, Key };
    Command command = Command::Export;
    QString backupFile;  // backup: the copy to write; verify-export: the export file;
                         // verify-export: the export file
    std::int64_t fromMs = std::numeric_limits<std::int64_t>::min();
    std::int64_t toMs = std::numeric_limits<std::int64_t>::max();
    ExportKinds kinds = ExportKinds::All;
    waga::journal::ExportFormat format = waga::journal::ExportFormat::Csv;
    QString output;  // empty: standard output
    QString journal = waga::journal::JournalPath();
    QString key;  // verify: the fingerprint the seal must be signed with (64 hex digits)
};

enum class ParseOutcome : std::uint8_t {
    Run,    // the options are in `options`
    Help,   // `text` is the help asked for (standard output, status 0)
    Error,  // `text` says what is wrong, in Polish (standard error, status 2)
};

// Parses the arguments after the program's name.
ParseOutcome ParseExportOptions(const QStringList& args, ExportOptions& options, QString& text);
// A local time as the options take it; `endOfDay` turns a date alone into the next midnight.
bool ParseLocalTime(const QString& text, bool endOfDay, std::int64_t& utcMs);

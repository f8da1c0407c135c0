#pragma once
// waga-journal's command line: export [--from T] [--to T] [--kind readings|reports|all]
// [--format csv|json] [--journal PATH], or backup FILE [--journal PATH]. Times are local:
// YYYY-MM-DD[Thh:mm[:ss]]; a --to with a date alone means the end of that day.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <limits>

#include "JournalExport.h"
#include "JournalFile.h"

struct ExportOptions {
    enum class Command : std::uint8_t { Export, Backup };
    Command command = Command::Export;
    QString backupFile;  // backup: the copy to write
    std::int64_t fromMs = std::numeric_limits<std::int64_t>::min();
    std::int64_t toMs = std::numeric_limits<std::int64_t>::max();
    ExportKinds kinds = ExportKinds::All;
    bool json = false;
    QString journal = waga::journal::JournalPath();
};

// Parses the arguments after the program's name. False with `error` (Polish) when they are
// not understood.
bool ParseExportOptions(const QStringList& args, ExportOptions& options, QString& error);
// A local time as the options take it; `endOfDay` turns a date alone into the next midnight.
bool ParseLocalTime(const QString& text, bool endOfDay, std::int64_t& utcMs);

// waga-journal: the weighing journal exported to standard output, for scripts.
//   waga-journal export [--from ...] [--to ...] [--kind ...] [--format csv|json] [--journal PATH]
// Exit status: 0 done, 1 the journal could not be read or written out, 2 wrong arguments.

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <string>

#include "ExportOptions.h"
#include "JournalExport.h"
#include "JournalQuery.h"

namespace {
int LocalOffset(std::int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
}

bool Write(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    ExportOptions options;
    QString error;
    if (!ParseExportOptions(args, options, error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 2;
    }
    waga::journal::JournalQuery query(options.journal);
    if (!query.IsOpen()) {
        std::fprintf(stderr, "%s\n", query.ErrorText().toLocal8Bit().constData());
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
        std::fprintf(stderr, "%s\n", query.ErrorText().toLocal8Bit().constData());
        return 1;
    }
    return ok ? 0 : 1;
}

#pragma once
// An export of a range of the journal, as the history window and waga-journal make it: CSV and
// JSON as a stream of bytes (standard output, a file), XLSX as a file. A file is written whole or
// not at all: to a temporary file beside the target that then replaces it.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "JournalExport.h"
#include "JournalQuery.h"

namespace waga::journal {

enum class ExportFormat : std::uint8_t { Csv, Json, Xlsx };
// "csv", "json", "xlsx"; nullopt for any other name.
std::optional<ExportFormat> ExportFormatFromName(const QString& name);

struct ExportRange {
    std::int64_t fromMs;
    std::int64_t toMs;
    ExportKinds kinds = ExportKinds::All;
};

struct ExportOutcome {
    bool ok = false;
    std::int64_t rows = 0;       // rows written
    std::int64_t shortened = 0;  // XLSX: texts cut at a cell's limit
    QString error;               // Polish: why the export failed
    // Rows of the range the journal could not make sense of (left out): how many, and the first
    // few with their seq and why.
    std::int64_t skipped = 0;
    QStringList problems;
    // A file export is signed in <file>.podpis (ExportManifest.h); why it is not, when not.
    QString unsignedWhy;
};

// CSV or JSON of the range, handed to `write` piece by piece (false from it stops the export:
// the output could not be written).
ExportOutcome WriteExport(JournalQuery& query, const ExportRange& range, ExportFormat format,
                          const UtcOffsetFn& offset,
                          const std::function<bool(std::string_view bytes)>& write);
// The range in `format` into the file `target`.
ExportOutcome ExportToFile(const QString& journal, const ExportRange& range, ExportFormat format,
                           const QString& target, const UtcOffsetFn& offset);

}  // namespace waga::journal

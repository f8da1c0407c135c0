#include "JournalExportFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ExportManifest.h"
#include "JournalXlsx.h"

namespace waga::journal {

std::optional<ExportFormat> ExportFormatFromName(const QString& name) {
    if (name == QLatin1String("csv")) return ExportFormat::Csv;
    if (name == QLatin1String("json")) return ExportFormat::Json;
    if (name == QLatin1String("xlsx")) return ExportFormat::Xlsx;
    return std::nullopt;
}

namespace {

void TakeProblems(const JournalQuery& query, ExportOutcome& outcome) {
    outcome.skipped = query.SkippedRows();
    outcome.problems = query.Problems();
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

ExportOutcome WriteXlsx(JournalQuery& query, const ExportRange& range, const QString& target,
                        const UtcOffsetFn& offset) {
    ExportOutcome outcome;
    const QFileInfo info(target);
    // A name of our own beside the target (made new, with the permissions any new file gets):
    // the workbook is written there, then renamed.
    QFile reserved;
    for (int attempt = 0;; ++attempt) {
        reserved.setFileName(
            info.absoluteDir().filePath(QStringLiteral("%1.tmp-%2-%3")
                                            .arg(info.fileName())
                                            .arg(QCoreApplication::applicationPid())
                                            .arg(attempt)));
        if (reserved.open(QIODevice::WriteOnly | QIODevice::NewOnly)) break;
        if (reserved.exists() && attempt < 100) continue;
        outcome.error =
            QStringLiteral("Nie można zapisać pliku %1: %2").arg(target, reserved.errorString());
        return outcome;
    }
    const QString temporary = reserved.fileName();
    reserved.close();
    // Removed whatever happens, unless it became the target.
    struct Removal {
        QFile& file;
        bool keep = false;
        ~Removal() {
            if (!keep) file.remove();
        }
    } removal{reserved};
    XlsxWriter writer(offset);
    bool ok = writer.Open(QFile::encodeName(temporary).toStdString(),
                          QFile::encodeName(info.absolutePath()).toStdString());
    bool read = true;
    if (ok) {
        read = query.ForEach(range.fromMs, range.toMs, [&](const JournalRow& row) {
            if (!ExportIncludes(range.kinds, row.kind)) return true;
            ok = writer.Add(row);
            return ok;
        });
        ok = writer.Finish() && ok;
    }
    TakeProblems(query, outcome);
    outcome.rows = writer.Rows();
    outcome.shortened = writer.Shortened();
    if (!read) {
        outcome.error = query.ErrorText();
    } else if (!ok) {
        outcome.error =
            QStringLiteral("Nie można zapisać pliku %1: %2").arg(target, Utf8(writer.Error()));
    } else if (std::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        outcome.error = QStringLiteral("Nie można zapisać pliku %1: %2")
                            .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
    } else {
        removal.keep = true;  // it is the target now
        outcome.ok = true;
    }
    return outcome;
}

}  // namespace

ExportOutcome WriteExport(JournalQuery& query, const ExportRange& range, ExportFormat format,
                          const UtcOffsetFn& offset,
                          const std::function<bool(std::string_view bytes)>& write) {
    ExportOutcome outcome;
    const bool json = format == ExportFormat::Json;
    bool written = write(json ? std::string("[") : CsvHeader());
    const bool read =
        written && query.ForEach(range.fromMs, range.toMs, [&](const JournalRow& row) {
            if (!ExportIncludes(range.kinds, row.kind)) return true;
            written = json ? write((outcome.rows == 0 ? "\n" : ",\n") + JsonRow(row, offset))
                           : write(CsvRow(row, offset));
            if (written) ++outcome.rows;
            return written;
        });
    if (written && json) written = write(outcome.rows == 0 ? "]\n" : "\n]\n");
    TakeProblems(query, outcome);
    if (!read && written) {
        outcome.error = query.ErrorText();
    } else if (!written) {
        outcome.error = QStringLiteral("Nie można zapisać wyniku.");
    }
    outcome.ok = read && written;
    return outcome;
}

ExportOutcome ExportToFile(const QString& journal, const ExportRange& range, ExportFormat format,
                           const QString& target, const UtcOffsetFn& offset) {
    JournalQuery query(journal);
    if (!query.IsOpen()) {
        ExportOutcome outcome;
        outcome.error = query.ErrorText();
        return outcome;
    }
    if (format == ExportFormat::Xlsx) {
        ExportOutcome outcome = WriteXlsx(query, range, target, offset);
        if (outcome.ok) WriteExportManifest(target, range, outcome.rows, outcome.unsignedWhy);
        return outcome;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        ExportOutcome outcome;
        outcome.error =
            QStringLiteral("Nie można zapisać pliku %1: %2").arg(target, file.errorString());
        return outcome;
    }
    ExportOutcome outcome =
        WriteExport(query, range, format, offset, [&file](std::string_view bytes) {
            return file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
        });
    if (outcome.ok && !file.commit()) outcome.ok = false;
    if (!outcome.ok && (outcome.error.isEmpty() || file.error() != QFileDevice::NoError)) {
        outcome.error =
            QStringLiteral("Nie można zapisać pliku %1: %2").arg(target, file.errorString());
    }
    if (outcome.ok) WriteExportManifest(target, range, outcome.rows, outcome.unsignedWhy);
    return outcome;
}

}  // namespace waga::journal

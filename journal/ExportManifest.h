#pragma once
// The signed manifest beside an export file (<file>.podpis): what the export holds (the time
// range, the kinds, the number of rows), the SHA-256 of the file's bytes, the station's key and
// its Ed25519 signature, so that a changed file, or a changed manifest, is found without the
// journal. The format, version 1, is text in UTF-8, one "name: value" a line after the first:
//   waga-eksport 1
//   plik: <the file's name>
//   sha256: <64 hex digits>
//   wierszy: <rows>
//   od: <UTC ms, or - for the journal's start>
//   do: <UTC ms, or - for its end>
//   rodzaj: all | readings | reports
//   odcisk: <the key's fingerprint, 64 hex digits>
//   klucz: <the Ed25519 public key, 64 hex digits>
//   podpisano: <UTC ms>
//   podpis: <the Ed25519 signature, 128 hex digits, of every byte before this line>

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "JournalExportFile.h"
#include "SealFormat.h"

namespace waga::journal {

QString ManifestPath(const QString& exportFile);

// Signs `file` (`rows` of `range`) with the station's key when this user has it. False with
// `why` (Polish) when there is no manifest: no key, or it could not be written.
bool WriteExportManifest(const QString& file, const ExportRange& range, std::int64_t rows,
                         QString& why);

struct ExportCheck {
    bool readable = false;
    QString error;  // the file or its manifest cannot be read
    std::int64_t rows = 0;
    QString range;  // as the manifest says
    seal::Digest fingerprint{};
    QStringList findings;
};
ExportCheck VerifyExport(const QString& file, const std::optional<seal::Digest>& expected);

}  // namespace waga::journal

#include "ExportManifest.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>

#include "JournalFile.h"
#include "StationKey.h"

namespace waga::journal {

namespace {
constexpr char kFirstLine[] = "waga-eksport 1\n";
constexpr char kSignatureName[] = "podpis: ";

const char* KindsName(ExportKinds kinds) {
    switch (kinds) {
        case ExportKinds::Readings:
            return "readings";
        case ExportKinds::Reports:
            return "reports";
        case ExportKinds::All:
            break;
    }
    return "all";
}

QByteArray Bound(std::int64_t ms, std::int64_t unbounded) {
    return ms == unbounded ? QByteArray("-") : QByteArray::number(qint64{ms});
}

// The SHA-256 of a file's bytes, read in pieces; false when it cannot be read.
bool FileSha256(const QString& path, seal::Digest& digest) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file)) return false;
    const QByteArray result = hash.result();
    std::copy(result.begin(), result.end(), digest.begin());
    return true;
}

template <std::size_t N>
bool FromHex(const QByteArray& text, std::array<std::uint8_t, N>& out) {
    if (text.size() != qsizetype(2 * N)) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    const QByteArray bytes = QByteArray::fromHex(text);
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return true;
}
}  // namespace

QString ManifestPath(const QString& exportFile) { return exportFile + QStringLiteral(".podpis"); }

bool WriteExportManifest(const QString& file, const ExportRange& range, std::int64_t rows,
                         QString& why) {
    StationKey key;
    QString error;
    if (!key.Load(StationKeyPath(), error)) {
        why = QStringLiteral("Eksportu nie podpisano: %1").arg(error);
        return false;
    }
    seal::Digest digest{};
    if (!FileSha256(file, digest)) {
        why = QStringLiteral("Eksportu nie podpisano: nie można odczytać pliku %1.").arg(file);
        return false;
    }
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    QByteArray text = kFirstLine;
    text += "plik: " + QFileInfo(file).fileName().toUtf8() + '\n';
    text += "sha256: " + QByteArray::fromStdString(seal::Hex(digest)) + '\n';
    text += "wierszy: " + QByteArray::number(qint64{rows}) + '\n';
    text += "od: " + Bound(range.fromMs, kMin) + '\n';
    text += "do: " + Bound(range.toMs, kMax) + '\n';
    text += QByteArray("rodzaj: ") + KindsName(range.kinds) + '\n';
    text += "odcisk: " + QByteArray::fromStdString(seal::Hex(key.Fingerprint())) + '\n';
    text += "klucz: " + QByteArray::fromStdString(seal::Hex(key.Public())) + '\n';
    text += "podpisano: " + QByteArray::number(qint64{UtcNowUs() / 1000}) + '\n';
    const seal::Signature signature = key.Sign(text.toStdString());
    text += kSignatureName + QByteArray::fromStdString(seal::Hex(signature)) + '\n';
    QSaveFile out(ManifestPath(file));
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        why = QStringLiteral("Nie można zapisać podpisu eksportu %1: %2")
                  .arg(ManifestPath(file), out.errorString());
        return false;
    }
    return true;
}

ExportCheck VerifyExport(const QString& file, const std::optional<seal::Digest>& expected) {
    ExportCheck check;
    if (!seal::InitCrypto()) {
        check.error =
            QStringLiteral("Nie można uruchomić biblioteki kryptograficznej (libsodium).");
        return check;
    }
    seal::Digest digest{};
    if (!FileSha256(file, digest)) {
        check.error = QStringLiteral("Nie można odczytać pliku %1.").arg(file);
        return check;
    }
    QFile manifestFile(ManifestPath(file));
    if (!manifestFile.open(QIODevice::ReadOnly)) {
        check.error = QStringLiteral("Nie można odczytać podpisu %1: %2")
                          .arg(ManifestPath(file), manifestFile.errorString());
        return check;
    }
    const QByteArray text = manifestFile.read(64 * 1024);
    check.readable = true;
    const qsizetype at = text.lastIndexOf(QByteArray("\n") + kSignatureName);
    QMap<QByteArray, QByteArray> fields;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype colon = line.indexOf(": ");
        if (colon > 0) fields.insert(line.left(colon), line.mid(colon + 2));
    }
    seal::PublicKey key{};
    seal::Signature signature{};
    seal::Digest stated{};
    if (!text.startsWith(kFirstLine) || at < 0 || !text.endsWith('\n') ||
        !FromHex(fields.value("klucz"), key) || !FromHex(fields.value("podpis"), signature) ||
        !FromHex(fields.value("sha256"), stated)) {
        check.findings << QStringLiteral("podpis eksportu jest uszkodzony albo ma nieznaną wersję");
        return check;
    }
    check.fingerprint = seal::Fingerprint(key);
    check.rows = fields.value("wierszy").toLongLong();
    check.range =
        QStringLiteral("od %1 do %2, %3")
            .arg(QString::fromUtf8(fields.value("od")), QString::fromUtf8(fields.value("do")),
                 QString::fromUtf8(fields.value("rodzaj")));
    if (!seal::VerifySignature(text.left(at + 1).toStdString(), signature, key) ||
        fields.value("odcisk") != QByteArray::fromStdString(seal::Hex(check.fingerprint))) {
        check.findings << QStringLiteral("podpis eksportu się nie zgadza (podpis zmieniono)");
    }
    if (stated != digest) {
        check.findings << QStringLiteral("plik zmieniono po eksporcie (SHA-256 %1, w podpisie %2)")
                              .arg(QString::fromStdString(seal::Hex(digest)),
                                   QString::fromStdString(seal::Hex(stated)));
    }
    if (expected && check.fingerprint != *expected) {
        check.findings << QStringLiteral(
                              "eksport podpisał inny klucz (odcisk %1), nie klucz tej "
                              "stacji (odcisk %2)")
                              .arg(FingerprintText(check.fingerprint), FingerprintText(*expected));
    }
    return check;
}

}  // namespace waga::journal

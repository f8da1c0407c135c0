#include "SeqMark.h"

#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>

#include "JournalRows.h"
#include "OwnFile.h"

namespace waga::journal {

std::int64_t UtcNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t FirstSeqOfRun(std::optional<std::int64_t> fileHighest,
                           std::optional<std::int64_t> mark, std::int64_t clockUs) {
    // Each within 0..kMaxSeq (a clock set to a far year too): the first seq is at most kMaxSeq + 1.
    std::int64_t first = std::clamp<std::int64_t>(clockUs, 1, kMaxSeq);
    if (fileHighest)
        first = std::max(first, std::clamp<std::int64_t>(*fileHighest, 0, kMaxSeq) + 1);
    if (mark) first = std::max(first, std::clamp<std::int64_t>(*mark, 0, kMaxSeq));
    return first;
}

bool ReadSeqMark(const QString& path, std::optional<std::int64_t>& mark, QString& error) {
    mark.reset();
    QByteArray text;
    bool missing = false;
    if (!ReadOwnFile(path, 64, text, missing, error)) return false;
    if (missing) return true;
    text = text.trimmed();
    const QString name = QFileInfo(path).fileName();
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.constData(), text.constData() + text.size(), value);
    if (ec == std::errc::result_out_of_range ||
        (ec == std::errc() && end == text.constData() + text.size() && !text.isEmpty() &&
         (value < 0 || value > kMaxSeq))) {
        error = QStringLiteral("Plik %1 zawiera numer %2 spoza zakresu 0–%3; pominięto go.")
                    .arg(name, QString::fromLatin1(text.left(24)))
                    .arg(kMaxSeq);
        return false;
    }
    if (ec != std::errc() || end != text.constData() + text.size() || text.isEmpty()) {
        error = QStringLiteral("Plik %1 nie zawiera numeru; pominięto go.").arg(name);
        return false;
    }
    mark = value;
    return true;
}

bool WriteSeqMark(const QString& path, std::int64_t mark, QString& error) {
    if (mark < 0 || mark > kMaxSeq) {
        error = QStringLiteral("Nie zapisano pliku %1: numer %2 spoza zakresu 0–%3.")
                    .arg(QFileInfo(path).fileName())
                    .arg(mark)
                    .arg(kMaxSeq);
        return false;
    }
    return WriteOwnFile(path, QByteArray::number(qint64{mark}) + '\n', error);
}

}  // namespace waga::journal

#include "SeqMark.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <string>

namespace waga::journal {

std::int64_t FirstSeqOfRun(std::optional<std::int64_t> fileHighest,
                           std::optional<std::int64_t> mark, std::int64_t clockUs) {
    std::int64_t first = clockUs;
    if (fileHighest) first = std::max(first, *fileHighest + 1);
    if (mark) first = std::max(first, *mark);
    return first;
}

bool ReadSeqMark(const QString& path, std::optional<std::int64_t>& mark, QString& error) {
    mark.reset();
    QFile file(path);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Nie można odczytać pliku %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.read(64).trimmed();
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.constData(), text.constData() + text.size(), value);
    if (ec != std::errc() || end != text.constData() + text.size() || text.isEmpty() || value < 0) {
        error = QStringLiteral("Plik %1 nie zawiera numeru; pominięto go.").arg(path);
        return false;
    }
    mark = value;
    return true;
}

bool WriteSeqMark(const QString& path, std::int64_t mark, QString& error) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, mark);
    QSaveFile file(path);
    if (ec == std::errc() && file.open(QIODevice::WriteOnly)) {
        *end = '\n';
        if (file.write(buffer, end + 1 - buffer) == end + 1 - buffer && file.commit()) return true;
    }
    error = QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, file.errorString());
    return false;
}

}  // namespace waga::journal

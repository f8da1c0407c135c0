#include "FreeSpace.h"

#include <QDir>
#include <QStorageInfo>

std::int64_t FreeBytesOfWorkingDirectory() {
    const QStorageInfo storage(QDir::currentPath());
    if (!storage.isValid() || !storage.isReady()) return -1;
    const qint64 available = storage.bytesAvailable();
    return available < 0 ? -1 : available;
}

QString LowFreeSpaceText() {
    return QStringLiteral("Zbyt mało wolnego miejsca na dysku!\rProgram potrzebuje około ") +
           QString::number(1) +
           QStringLiteral("MB wolnej przestrzeni do prawidłowego funkcjonowania.");
}

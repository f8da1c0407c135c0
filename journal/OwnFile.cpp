#include "OwnFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

namespace waga::journal {

namespace {
QString Name(const QString& path) { return QFileInfo(path).fileName(); }

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QByteArray Native(const QString& path) { return QFile::encodeName(path); }
}  // namespace

QString OwnFileRefusal(const QString& path) {
    struct stat info {};
    if (::lstat(Native(path).constData(), &info) != 0) return {};
    if (S_ISREG(info.st_mode)) return {};
    if (S_ISLNK(info.st_mode)) {
        return QStringLiteral(
                   "%1 jest dowiązaniem symbolicznym; dziennik nie otwiera swoich plików przez "
                   "dowiązania (odmowa).")
            .arg(Name(path));
    }
    if (S_ISDIR(info.st_mode)) {
        return QStringLiteral("W miejscu pliku %1 jest folder; dziennik nie może go użyć.")
            .arg(Name(path));
    }
    return QStringLiteral("%1 nie jest zwykłym plikiem; dziennik nie może go użyć.")
        .arg(Name(path));
}

bool ReadOwnFile(const QString& path, qint64 limit, QByteArray& bytes, bool& missing,
                 QString& error) {
    bytes.clear();
    missing = false;
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int cause = errno;
        if (cause == ENOENT) {
            missing = true;
            return true;
        }
        const QString refusal = OwnFileRefusal(path);
        error = !refusal.isEmpty() ? refusal
                                   : QStringLiteral("Nie można odczytać pliku %1: %2")
                                         .arg(Name(path), SystemError(cause));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = OwnFileRefusal(path);
        if (error.isEmpty()) error = QStringLiteral("%1 nie jest zwykłym plikiem.").arg(Name(path));
        return false;
    }
    QFile file;
    bool ok = file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (ok) {
        bytes = info.st_size <= limit ? file.readAll() : file.read(limit);
        ok = file.error() == QFileDevice::NoError;
    } else {
        ::close(fd);
    }
    if (!ok) {
        error =
            QStringLiteral("Nie można odczytać pliku %1: %2").arg(Name(path), file.errorString());
    }
    return ok;
}

bool WriteOwnFile(const QString& path, const QByteArray& bytes, QString& error) {
    const QString refusal = OwnFileRefusal(path);
    if (!refusal.isEmpty()) {
        error = refusal;  // the same words as a refused read: told once
        return false;
    }
    const auto fail = [&](int cause) {
        error =
            QStringLiteral("Nie można zapisać pliku %1: %2").arg(Name(path), SystemError(cause));
        return false;
    };
    QByteArray temporary;
    int fd = -1;
    // A fresh name each time: a name planted beside (a link, say) is never opened.
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temporary = Native(path) + ".tmp-" +
                    QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        if (fd < 0 && errno != EEXIST) return fail(errno);
    }
    if (fd < 0) return fail(EEXIST);
    int cause = 0;
    for (qsizetype done = 0; cause == 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            cause = n < 0 ? errno : EIO;
        } else {
            done += n;
        }
    }
    // The umask may have taken bits away, never added any; 0600 whatever it is.
    if (cause == 0 && ::fchmod(fd, 0600) != 0) cause = errno;
    if (cause == 0 && ::fsync(fd) != 0) cause = errno;
    if (::close(fd) != 0 && cause == 0) cause = errno;
    // rename(2) replaces the name itself: a link put there meanwhile goes, its target stays.
    if (cause == 0 && ::rename(temporary.constData(), Native(path).constData()) != 0) cause = errno;
    if (cause == 0) return true;
    ::unlink(temporary.constData());
    return fail(cause);
}

bool KeepOwnerOnly(const QString& path) {
    struct stat info {};
    if (::lstat(Native(path).constData(), &info) != 0) return errno == ENOENT;
    if (!S_ISREG(info.st_mode)) return false;
    if ((info.st_mode & 07777) == 0600) return true;
    return ::fchmodat(AT_FDCWD, Native(path).constData(), 0600, 0) == 0;
}

}  // namespace waga::journal

#include "ProgramIdentity.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <cstdio>

#include "Version.h"

ExecutableDigest DigestRunningExecutable() {
#ifdef Q_OS_LINUX
    QFile file(QStringLiteral("/proc/self/exe"));
#else
    QFile file(QCoreApplication::applicationFilePath());
#endif
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("nie można otworzyć pliku programu: ") + file.errorString()};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return {{}, QStringLiteral("nie można odczytać pliku programu: ") + file.errorString()};
    return {QString::fromLatin1(hash.result().toHex()), {}};
}

QString IdentityText(const ExecutableDigest& digest) {
    const QString version = QStringLiteral("wersja ") + QString::fromLatin1(kProgramVersion);
    return digest.hex.isEmpty() ? version + QStringLiteral(", SHA-256 nieznany: ") + digest.error
                                : version + QStringLiteral(", SHA-256 ") + digest.hex;
}

int PrintVersion(const char* program) {
    std::printf("%s %s\n", program, kProgramVersion);
    const ExecutableDigest digest = DigestRunningExecutable();
    if (digest.hex.isEmpty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", program, digest.error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("SHA-256: %s\n", digest.hex.toLatin1().constData());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

BackgroundDigest::BackgroundDigest(QObject* receiver,
                                   std::function<void(const ExecutableDigest&)> done)
    : thread_([receiver, done = std::move(done)] {
          ExecutableDigest digest = DigestRunningExecutable();
          QMetaObject::invokeMethod(
              receiver, [done, digest = std::move(digest)] { done(digest); }, Qt::QueuedConnection);
      }) {}

BackgroundDigest::~BackgroundDigest() { thread_.join(); }

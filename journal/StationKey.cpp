#include "StationKey.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

namespace waga::journal {

namespace {
constexpr char kHeader[] = "waga-klucz-stacji 1 ";
constexpr std::size_t kSeedBytes = crypto_sign_SEEDBYTES;
constexpr std::size_t kLineBytes = sizeof(kHeader) - 1 + 2 * kSeedBytes + 1;  // with '\n'

QString Errno() { return QString::fromLocal8Bit(std::strerror(errno)); }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

QString StationKeyPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : config)
        .absoluteFilePath(QStringLiteral("waga/klucz-stacji"));
}

QString FingerprintText(const seal::Digest& fingerprint) {
    return QString::fromStdString(seal::Hex(fingerprint));
}

StationKey::~StationKey() { sodium_memzero(secret_.data(), secret_.size()); }

bool StationKey::FromSeed(const std::uint8_t* seed) {
    valid_ = crypto_sign_seed_keypair(public_.data(), secret_.data(), seed) == 0;
    return valid_;
}

seal::Signature StationKey::Sign(const std::string& message) const {
    seal::Signature signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         secret_.data());
    return signature;
}

bool StationKey::Load(const QString& path, QString& error) {
    valid_ = false;
    if (!seal::InitCrypto()) {
        error = QStringLiteral("Nie można uruchomić biblioteki kryptograficznej (libsodium).");
        return false;
    }
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("Nie można odczytać klucza stacji %1: %2").arg(path, Errno());
        return false;
    }
    char line[kLineBytes + 1];
    struct stat st {};
    ssize_t got = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::read(fd, line, sizeof line);
    ::close(fd);
    std::uint8_t seed[kSeedBytes];
    bool ok = got == ssize_t(kLineBytes) && line[kLineBytes - 1] == '\n' &&
              std::memcmp(line, kHeader, sizeof(kHeader) - 1) == 0;
    const char* hex = line + sizeof(kHeader) - 1;
    for (std::size_t i = 0; ok && i < kSeedBytes; ++i) {
        const int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
        ok = high >= 0 && low >= 0;
        seed[i] = std::uint8_t(high * 16 + low);
    }
    ok = ok && FromSeed(seed);
    sodium_memzero(seed, sizeof seed);
    sodium_memzero(line, sizeof line);
    if (!ok) {
        error = QStringLiteral(
                    "Plik klucza stacji %1 nie jest kluczem stacji (uszkodzony albo "
                    "podmieniony); pieczęci dziennika nie można podpisać.")
                    .arg(path);
    }
    return ok;
}

bool StationKey::LoadOrCreate(const QString& path, bool& created, QString& error,
                              QString& warning) {
    created = false;
    warning.clear();
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0 || errno != ENOENT) {
        if (!Load(path, error)) return false;
        if ((st.st_mode & 077) != 0) {
            warning = QStringLiteral(
                          "Plik klucza stacji %1 mogą czytać inni użytkownicy "
                          "(powinien mieć prawa 0600).")
                          .arg(path);
        }
        return true;
    }
    if (!seal::InitCrypto()) {
        error = QStringLiteral("Nie można uruchomić biblioteki kryptograficznej (libsodium).");
        return false;
    }
    // The folder only for its owner, when it is made here.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("Nie można utworzyć folderu klucza stacji %1.").arg(folder);
        return false;
    }
    std::uint8_t seed[kSeedBytes];
    randombytes_buf(seed, sizeof seed);
    std::string line = kHeader + seal::Hex(seed, sizeof seed) + '\n';
    sodium_memzero(seed, sizeof seed);
    // Written whole to a temporary file of mode 0600, synced, then linked to its name: a key
    // file is never seen half written, and an existing one is never replaced.
    const QByteArray temporary = name + ".nowy";
    ::unlink(temporary.constData());
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && ::write(fd, line.data(), line.size()) == ssize_t(line.size()) &&
              ::fsync(fd) == 0;
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    sodium_memzero(line.data(), line.size());
    bool raced = false;  // another process made the key meanwhile: that one is used
    if (ok && ::link(temporary.constData(), name.constData()) != 0) {
        raced = errno == EEXIST;
        ok = false;
    }
    const QString cause = Errno();
    ::unlink(temporary.constData());
    if (raced) return Load(path, error);
    if (!ok) {
        error = QStringLiteral("Nie można zapisać nowego klucza stacji %1: %2").arg(path, cause);
        return false;
    }
    created = true;
    return Load(path, error);
}

}  // namespace waga::journal

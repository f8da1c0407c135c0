#pragma once
// The station's Ed25519 key pair, which signs the journal's seal (SealFormat.h). It is made at
// the first start in the user's configuration folder ($XDG_CONFIG_HOME/waga, ~/.config/waga
// without it), in a file only its owner may read (mode 0600), outside the working folder the
// clerks read; the headless station under its own system user keeps it out of the operator's
// reach. The file is opened without following a symbolic link, and is one line:
//   waga-klucz-stacji 1 <the 32-byte Ed25519 seed in hex>

#include <QString>
#include <array>
#include <cstdint>
#include <string>

#include "SealFormat.h"

namespace waga::journal {

QString StationKeyPath();

class StationKey {
  public:
    StationKey() = default;
    ~StationKey();
    StationKey(const StationKey&) = default;
    StationKey& operator=(const StationKey&) = default;

    // Reads the key at `path`; when there is no file, makes a new key there (`created`). False
    // with `error` (Polish) when the file is there but cannot be read or is not such a file, or
    // a new one cannot be written; a file others may read is used, with `warning` set.
    bool LoadOrCreate(const QString& path, bool& created, QString& error, QString& warning);
    // Reads only: false with `error` when there is no key or it cannot be read.
    bool Load(const QString& path, QString& error);

    bool IsValid() const { return valid_; }
    const seal::PublicKey& Public() const { return public_; }
    seal::Digest Fingerprint() const { return seal::Fingerprint(public_); }
    seal::Signature Sign(const std::string& message) const;

  private:
    bool FromSeed(const std::uint8_t* seed);

    bool valid_ = false;
    seal::PublicKey public_{};
    std::array<std::uint8_t, 64> secret_{};
};

// A fingerprint as shown: 64 hex digits.
QString FingerprintText(const seal::Digest& fingerprint);

}  // namespace waga::journal

#pragma once
// The bytes of the journal's seal, version 1 (doc/evidence.md states them for an inspector's
// own program): a chain of SHA-256 links over the rows of the lines table in seq order, and the
// chain's head signed with the station's Ed25519 key. Pure: no file, no database.
//
// A link hashes:
//   the version byte 0x01;
//   the previous link (32 bytes; 32 zero bytes for the first row ever sealed);
//   the previous row's seq (8 bytes, big-endian; 0 for the first row ever sealed);
//   the row's ten columns in the order seq, kind, first_ms, last_ms, count, text, raw, value,
//   unit, port, each as one field: a type byte (0 NULL, 1 integer, 2 real, 3 text, 4 blob, as
//   SQLite stores it), the length of the content (4 bytes, big-endian), then the content (an
//   integer as 8 bytes two's complement big-endian, a real as the 8 bytes of its IEEE 754
//   binary64 big-endian, a text as its bytes as stored, a blob as its bytes, NULL as nothing).
// The head message is 137 bytes:
//   0x01, the key's fingerprint (SHA-256 of the 32-byte public key), base seq, the seq and link
//   (32) before the base, head seq, head link (32), the number of rows below the base
//   (unsealed), the signing time in UTC ms; each number 8 bytes big-endian.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace waga::journal::seal {

inline constexpr std::uint8_t kVersion = 1;
inline constexpr int kColumns = 10;
// The columns a link covers, in its order, as a query selects them.
inline constexpr char kColumnList[] =
    "seq, kind, first_ms, last_ms, count, text, raw, value, unit, port";

using Digest = std::array<std::uint8_t, 32>;
using PublicKey = std::array<std::uint8_t, 32>;
using Signature = std::array<std::uint8_t, 64>;

// One column as SQLite stores it.
struct Field {
    enum class Type : std::uint8_t { Null = 0, Integer = 1, Real = 2, Text = 3, Blob = 4 };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view bytes;  // text or blob; the caller keeps them alive
};

// Makes libsodium ready; false when it cannot be (then nothing here may be used).
bool InitCrypto();

// The link of one row: its input is built in `scratch` (cleared first), its SHA-256 returned.
Digest Link(const Digest& previous, std::int64_t previousSeq, const Field (&row)[kColumns],
            std::string& scratch);

struct Head {
    Digest fingerprint{};
    std::int64_t baseSeq = 1;
    std::int64_t basePrevSeq = 0;
    Digest basePrevious{};
    std::int64_t headSeq = 0;
    Digest headLink{};
    std::int64_t unsealed = 0;
    std::int64_t signedMs = 0;
};
std::string HeadMessage(const Head& head);

Digest Sha256(std::string_view bytes);
Digest Fingerprint(const PublicKey& key);
bool VerifySignature(const std::string& message, const Signature& signature, const PublicKey& key);
std::string Hex(const std::uint8_t* bytes, std::size_t size);
template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& bytes) {
    return Hex(bytes.data(), N);
}

}  // namespace waga::journal::seal

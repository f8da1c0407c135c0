#include "SealFormat.h"

#include <sodium.h>

#include <bit>
#include <cstring>

namespace waga::journal::seal {

namespace {
void PutU64(std::string& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xFF));
}
void PutU32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((v >> shift) & 0xFF));
}
void PutDigest(std::string& out, const Digest& d) {
    out.append(reinterpret_cast<const char*>(d.data()), d.size());
}
void PutField(std::string& out, const Field& f) {
    out.push_back(char(f.type));
    switch (f.type) {
        case Field::Type::Null:
            PutU32(out, 0);
            break;
        case Field::Type::Integer:
            PutU32(out, 8);
            PutU64(out, std::uint64_t(f.integer));
            break;
        case Field::Type::Real:
            PutU32(out, 8);
            PutU64(out, std::bit_cast<std::uint64_t>(f.real));
            break;
        case Field::Type::Text:
        case Field::Type::Blob:
            PutU32(out, std::uint32_t(f.bytes.size()));
            out.append(f.bytes);
            break;
    }
}
}  // namespace

bool InitCrypto() { return sodium_init() >= 0; }

Digest Sha256(std::string_view bytes) {
    Digest d;
    crypto_hash_sha256(d.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
    return d;
}

Digest Link(const Digest& previous, std::int64_t previousSeq, const Field (&row)[kColumns],
            std::string& scratch) {
    scratch.clear();
    scratch.push_back(char(kVersion));
    PutDigest(scratch, previous);
    PutU64(scratch, std::uint64_t(previousSeq));
    for (const Field& f : row) PutField(scratch, f);
    return Sha256(scratch);
}

std::string HeadMessage(const Head& head) {
    std::string m;
    m.reserve(137);
    m.push_back(char(kVersion));
    PutDigest(m, head.fingerprint);
    PutU64(m, std::uint64_t(head.baseSeq));
    PutU64(m, std::uint64_t(head.basePrevSeq));
    PutDigest(m, head.basePrevious);
    PutU64(m, std::uint64_t(head.headSeq));
    PutDigest(m, head.headLink);
    PutU64(m, std::uint64_t(head.unsealed));
    PutU64(m, std::uint64_t(head.signedMs));
    return m;
}

Digest Fingerprint(const PublicKey& key) {
    return Sha256(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}

bool VerifySignature(const std::string& message, const Signature& signature, const PublicKey& key) {
    return crypto_sign_verify_detached(signature.data(),
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), key.data()) == 0;
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0xF]);
    }
    return out;
}

}  // namespace waga::journal::seal

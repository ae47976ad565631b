// Ed25519 signatures in minisign's file formats: public keys, secret keys and
// signatures (legacy "Ed" over the message, prehashed "ED" over its BLAKE2b-512
// hash), checked and made with libsodium.
//
//   auto key = minisign::ParsePublicKey(ReadAll("MorvexUpdate.pub"), &error);
//   auto sig = minisign::ParseSignature(ReadAll("update.zip.minisig"), &error);
//   minisign::FileDigest digest;                    // fed as the file arrives
//   digest.Update(bytes, size);
//   bool ok = key && sig && minisign::Verify(*key, *sig, digest.Final(), &error);
//
// Every function reports failure as a result (false or an empty optional) with
// a line of English in *error; nothing throws.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sodium.h>

namespace minisign {

inline constexpr std::size_t KEY_NUMBER_BYTES = 8;
inline constexpr std::size_t PUBLIC_KEY_BYTES = 32;
inline constexpr std::size_t SECRET_KEY_BYTES = 64;
inline constexpr std::size_t SIGNATURE_BYTES = 64;
inline constexpr std::size_t DIGEST_BYTES = 64;  // BLAKE2b-512
// The longest comment line minisign writes or reads.
inline constexpr std::size_t COMMENT_MAX_BYTES = 1024;
// A signature file is four short lines; anything bigger is not one.
inline constexpr std::size_t SIGNATURE_FILE_MAX_BYTES = 4096;

using KeyNumber = std::array<std::uint8_t, KEY_NUMBER_BYTES>;
using Digest = std::array<std::uint8_t, DIGEST_BYTES>;

struct PublicKey {
    KeyNumber keyNumber{};
    std::array<std::uint8_t, PUBLIC_KEY_BYTES> key{};
};

struct SecretKey {
    KeyNumber keyNumber{};
    std::array<std::uint8_t, SECRET_KEY_BYTES> key{};  // libsodium's seed + public key
};

struct Signature {
    bool prehashed = true;  // "ED": the signature covers the BLAKE2b-512 hash
    KeyNumber keyNumber{};
    std::array<std::uint8_t, SIGNATURE_BYTES> signature{};
    std::string trustedComment;  // without "trusted comment: "
    std::array<std::uint8_t, SIGNATURE_BYTES> globalSignature{};
};

// The file formats. A trailing "\r" on a line is ignored, as minisign does.
std::optional<PublicKey> ParsePublicKey(std::string_view fileText, std::string* error);
std::optional<Signature> ParseSignature(std::string_view fileText, std::string* error);
// An encrypted key needs its password; an unencrypted one ignores it.
std::optional<SecretKey> ParseSecretKey(std::string_view fileText, std::string_view password,
                                        std::string* error);

// True when the secret key file is protected by a password (scrypt).
bool SecretKeyIsEncrypted(std::string_view fileText);

// BLAKE2b-512 of a message given in pieces (what a prehashed signature covers).
class FileDigest {
public:
    FileDigest();
    void Update(const void* data, std::size_t size);
    Digest Final();

private:
    crypto_generichash_blake2b_state m_state;
};

// BLAKE2b-512 of a whole file (its path as UTF-8, as platform::NativePath
// gives it); false when it cannot be read.
bool DigestOfFile(const std::string& nativePath, Digest* digest, std::string* error);

// Checks a signature made by `key`. A prehashed signature is checked against
// `digest`; a legacy one needs the message itself, read from `nativePath`
// (may be empty for prehashed ones). The trusted comment's own signature is
// always checked.
bool Verify(const PublicKey& key, const Signature& signature, const Digest& digest,
            const std::string& nativePath, std::string* error);

// A new key pair: the public key file and the secret key file, the latter
// encrypted with `password` (scrypt, minisign's limits) or, when `encrypt` is
// false, stored in the clear.
struct KeyPairFiles {
    std::string publicKeyFile;
    std::string secretKeyFile;
};
std::optional<KeyPairFiles> GenerateKeyPair(bool encrypt, std::string_view password, std::string* error);

// The signature file for a file with the given digest (prehashed), or a legacy
// signature over the message itself.
std::string SignDigest(const SecretKey& key, const Digest& digest, std::string_view trustedComment);
std::string SignLegacy(const SecretKey& key, std::string_view message, std::string_view trustedComment);

// The key number as minisign prints it (16 upper-case hex digits).
std::string KeyNumberText(const KeyNumber& keyNumber);

}  // namespace minisign

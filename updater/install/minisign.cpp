#include "updater/install/minisign.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files.h"

namespace minisign {

namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
constexpr unsigned char kAlgLegacy[2] = {'E', 'd'};
constexpr unsigned char kAlgPrehashed[2] = {'E', 'D'};
constexpr unsigned char kKdfScrypt[2] = {'S', 'c'};
constexpr unsigned char kKdfNone[2] = {0, 0};
constexpr unsigned char kChecksumBlake2[2] = {'B', '2'};
constexpr std::size_t kSaltBytes = crypto_pwhash_scryptsalsa208sha256_SALTBYTES;
constexpr std::size_t kChecksumBytes = crypto_generichash_BYTES;

// The byte layouts behind the base64 lines.
constexpr std::size_t kPublicKeyRecord = 2 + KEY_NUMBER_BYTES + PUBLIC_KEY_BYTES;
constexpr std::size_t kSignatureRecord = 2 + KEY_NUMBER_BYTES + SIGNATURE_BYTES;
// The part of a secret key record that the password protects.
constexpr std::size_t kSecretPart = KEY_NUMBER_BYTES + SECRET_KEY_BYTES + kChecksumBytes;
constexpr std::size_t kSecretKeyRecord = 2 + 2 + 2 + kSaltBytes + 8 + 8 + kSecretPart;

bool Fail(std::string* error, const char* text)
{
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

bool SodiumReady() { return sodium_init() >= 0; }

// The file's lines without their line ends; a last line may lack its "\n".
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Decodes exactly `size` bytes of standard base64, or fails.
bool DecodeExact(std::string_view text, unsigned char* out, std::size_t size)
{
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        return false;
    }
    return decoded == size && end == text.data() + text.size();
}

std::string Encode(const unsigned char* data, std::size_t size)
{
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool IsComment(std::string_view line, std::string_view prefix)
{
    return line.starts_with(prefix) && line.size() <= COMMENT_MAX_BYTES;
}

std::uint64_t LoadLittleEndian(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

void StoreLittleEndian(unsigned char* bytes, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void SecretChecksum(const unsigned char* keyNumber, const unsigned char* secretKey, unsigned char* checksum)
{
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kChecksumBytes);
    crypto_generichash_update(&state, kAlgLegacy, 2);
    crypto_generichash_update(&state, keyNumber, KEY_NUMBER_BYTES);
    crypto_generichash_update(&state, secretKey, SECRET_KEY_BYTES);
    crypto_generichash_final(&state, checksum, kChecksumBytes);
}

// XORs the protected part with the scrypt stream of the password.
bool ApplyPassword(unsigned char* part, std::string_view password, const unsigned char* salt,
                   std::uint64_t opsLimit, std::uint64_t memLimit)
{
    // Limits a hostile or damaged file could set to exhaust the machine.
    if (opsLimit > crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE * 4ULL ||
        memLimit > crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE * 4ULL) {
        return false;
    }
    unsigned char stream[kSecretPart];
    if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(), salt,
                                           opsLimit, static_cast<std::size_t>(memLimit)) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < kSecretPart; ++i) {
        part[i] ^= stream[i];
    }
    sodium_memzero(stream, sizeof stream);
    return true;
}

std::string SignatureFile(const SecretKey& key, bool prehashed, const unsigned char* message, std::size_t size,
                          std::string_view trustedComment)
{
    unsigned char record[kSignatureRecord];
    std::memcpy(record, prehashed ? kAlgPrehashed : kAlgLegacy, 2);
    std::memcpy(record + 2, key.keyNumber.data(), KEY_NUMBER_BYTES);
    unsigned char* signature = record + 2 + KEY_NUMBER_BYTES;
    crypto_sign_detached(signature, nullptr, message, size, key.key.data());

    std::vector<unsigned char> signedComment(signature, signature + SIGNATURE_BYTES);
    signedComment.insert(signedComment.end(), trustedComment.begin(), trustedComment.end());
    unsigned char global[SIGNATURE_BYTES];
    crypto_sign_detached(global, nullptr, signedComment.data(), signedComment.size(), key.key.data());

    return std::string(kUntrustedPrefix) + "signature from morvex-publish secret key\n" +
           Encode(record, sizeof record) + "\n" + kTrustedPrefix + std::string(trustedComment) + "\n" +
           Encode(global, sizeof global) + "\n";
}

}  // namespace

std::optional<PublicKey> ParsePublicKey(std::string_view fileText, std::string* error)
{
    const std::vector<std::string_view> lines = Lines(fileText);
    if (lines.size() < 2 || !IsComment(lines[0], kUntrustedPrefix)) {
        Fail(error, "the public key file is not in minisign's format");
        return std::nullopt;
    }
    unsigned char record[kPublicKeyRecord];
    if (!DecodeExact(lines[1], record, sizeof record) || std::memcmp(record, kAlgLegacy, 2) != 0) {
        Fail(error, "the public key is damaged or not an Ed25519 key");
        return std::nullopt;
    }
    PublicKey key;
    std::memcpy(key.keyNumber.data(), record + 2, KEY_NUMBER_BYTES);
    std::memcpy(key.key.data(), record + 2 + KEY_NUMBER_BYTES, PUBLIC_KEY_BYTES);
    return key;
}

std::optional<Signature> ParseSignature(std::string_view fileText, std::string* error)
{
    if (fileText.size() > SIGNATURE_FILE_MAX_BYTES) {
        Fail(error, "the signature file is too big");
        return std::nullopt;
    }
    const std::vector<std::string_view> lines = Lines(fileText);
    if (lines.size() < 4 || !IsComment(lines[0], kUntrustedPrefix) || !IsComment(lines[2], kTrustedPrefix)) {
        Fail(error, "the signature file is not in minisign's format");
        return std::nullopt;
    }
    unsigned char record[kSignatureRecord];
    Signature signature;
    if (!DecodeExact(lines[1], record, sizeof record) ||
        !DecodeExact(lines[3], signature.globalSignature.data(), SIGNATURE_BYTES)) {
        Fail(error, "the signature is damaged");
        return std::nullopt;
    }
    if (std::memcmp(record, kAlgPrehashed, 2) == 0) {
        signature.prehashed = true;
    } else if (std::memcmp(record, kAlgLegacy, 2) == 0) {
        signature.prehashed = false;
    } else {
        Fail(error, "the signature uses an unknown algorithm");
        return std::nullopt;
    }
    std::memcpy(signature.keyNumber.data(), record + 2, KEY_NUMBER_BYTES);
    std::memcpy(signature.signature.data(), record + 2 + KEY_NUMBER_BYTES, SIGNATURE_BYTES);
    signature.trustedComment = std::string(lines[2].substr(std::strlen(kTrustedPrefix)));
    return signature;
}

std::optional<SecretKey> ParseSecretKey(std::string_view fileText, std::string_view password, std::string* error)
{
    const std::vector<std::string_view> lines = Lines(fileText);
    unsigned char record[kSecretKeyRecord];
    if (lines.size() < 2 || !IsComment(lines[0], kUntrustedPrefix) ||
        !DecodeExact(lines[1], record, sizeof record)) {
        Fail(error, "the secret key file is not in minisign's format");
        return std::nullopt;
    }
    const unsigned char* kdf = record + 2;
    const unsigned char* salt = record + 6;
    unsigned char* part = record + 6 + kSaltBytes + 16;
    if (std::memcmp(record, kAlgLegacy, 2) != 0 || std::memcmp(record + 4, kChecksumBlake2, 2) != 0) {
        Fail(error, "the secret key uses an unknown algorithm");
        return std::nullopt;
    }
    if (!SodiumReady()) {
        Fail(error, "the cryptography library cannot be initialised");
        return std::nullopt;
    }
    if (std::memcmp(kdf, kKdfScrypt, 2) == 0) {
        const std::uint64_t ops = LoadLittleEndian(salt + kSaltBytes);
        const std::uint64_t mem = LoadLittleEndian(salt + kSaltBytes + 8);
        if (!ApplyPassword(part, password, salt, ops, mem)) {
            Fail(error, "the secret key cannot be decrypted");
            return std::nullopt;
        }
    } else if (std::memcmp(kdf, kKdfNone, 2) != 0) {
        Fail(error, "the secret key uses an unknown key derivation");
        return std::nullopt;
    }
    unsigned char checksum[kChecksumBytes];
    SecretChecksum(part, part + KEY_NUMBER_BYTES, checksum);
    const bool intact = sodium_memcmp(checksum, part + KEY_NUMBER_BYTES + SECRET_KEY_BYTES, kChecksumBytes) == 0;
    SecretKey key;
    std::memcpy(key.keyNumber.data(), part, KEY_NUMBER_BYTES);
    std::memcpy(key.key.data(), part + KEY_NUMBER_BYTES, SECRET_KEY_BYTES);
    sodium_memzero(record, sizeof record);
    if (!intact) {
        Fail(error, "wrong password for the secret key, or the key is damaged");
        return std::nullopt;
    }
    return key;
}

bool SecretKeyIsEncrypted(std::string_view fileText)
{
    const std::vector<std::string_view> lines = Lines(fileText);
    unsigned char record[kSecretKeyRecord];
    const bool encrypted = lines.size() >= 2 && DecodeExact(lines[1], record, sizeof record) &&
                           std::memcmp(record + 2, kKdfScrypt, 2) == 0;
    sodium_memzero(record, sizeof record);
    return encrypted;
}

FileDigest::FileDigest()
{
    SodiumReady();
    crypto_generichash_blake2b_init(&m_state, nullptr, 0, DIGEST_BYTES);
}

void FileDigest::Update(const void* data, std::size_t size)
{
    crypto_generichash_blake2b_update(&m_state, static_cast<const unsigned char*>(data), size);
}

Digest FileDigest::Final()
{
    Digest digest{};
    crypto_generichash_blake2b_final(&m_state, digest.data(), digest.size());
    return digest;
}

bool DigestOfFile(const std::string& nativePath, Digest* digest, std::string* error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::OpenFileStream(platform::Utf8ToPath(nativePath), "rb"), std::fclose);
    if (!file) {
        return Fail(error, "the signed file cannot be opened");
    }
    FileDigest state;
    std::vector<unsigned char> buffer(1 << 16);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        state.Update(buffer.data(), got);
    }
    if (std::ferror(file.get())) {
        return Fail(error, "the signed file cannot be read");
    }
    *digest = state.Final();
    return true;
}

bool Verify(const PublicKey& key, const Signature& signature, const Digest& digest, const std::string& nativePath,
            std::string* error)
{
    if (!SodiumReady()) {
        return Fail(error, "the cryptography library cannot be initialised");
    }
    if (signature.keyNumber != key.keyNumber) {
        return Fail(error, "the signature was made with another key");
    }
    if (signature.prehashed) {
        if (crypto_sign_verify_detached(signature.signature.data(), digest.data(), digest.size(), key.key.data()) !=
            0) {
            return Fail(error, "the signature does not match the file");
        }
    } else {
        // Legacy signatures cover the message itself.
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(nativePath.c_str(), "rb"), std::fclose);
        if (!file) {
            return Fail(error, "the signed file cannot be opened");
        }
        std::vector<unsigned char> message;
        std::vector<unsigned char> buffer(1 << 16);
        std::size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
            message.insert(message.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        }
        if (std::ferror(file.get())) {
            return Fail(error, "the signed file cannot be read");
        }
        if (crypto_sign_verify_detached(signature.signature.data(), message.data(), message.size(),
                                        key.key.data()) != 0) {
            return Fail(error, "the signature does not match the file");
        }
    }
    std::vector<unsigned char> signedComment(signature.signature.begin(), signature.signature.end());
    signedComment.insert(signedComment.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (crypto_sign_verify_detached(signature.globalSignature.data(), signedComment.data(), signedComment.size(),
                                    key.key.data()) != 0) {
        return Fail(error, "the trusted comment's signature is wrong");
    }
    return true;
}

std::optional<KeyPairFiles> GenerateKeyPair(bool encrypt, std::string_view password, std::string* error)
{
    if (!SodiumReady()) {
        Fail(error, "the cryptography library cannot be initialised");
        return std::nullopt;
    }
    unsigned char publicKey[PUBLIC_KEY_BYTES];
    unsigned char record[kSecretKeyRecord] = {};
    unsigned char* salt = record + 6;
    unsigned char* part = record + 6 + kSaltBytes + 16;
    crypto_sign_keypair(publicKey, part + KEY_NUMBER_BYTES);
    randombytes_buf(part, KEY_NUMBER_BYTES);
    SecretChecksum(part, part + KEY_NUMBER_BYTES, part + KEY_NUMBER_BYTES + SECRET_KEY_BYTES);

    unsigned char publicRecord[kPublicKeyRecord];
    std::memcpy(publicRecord, kAlgLegacy, 2);
    std::memcpy(publicRecord + 2, part, KEY_NUMBER_BYTES);
    std::memcpy(publicRecord + 2 + KEY_NUMBER_BYTES, publicKey, PUBLIC_KEY_BYTES);
    KeyNumber keyNumber{};
    std::memcpy(keyNumber.data(), part, KEY_NUMBER_BYTES);

    std::memcpy(record, kAlgLegacy, 2);
    std::memcpy(record + 4, kChecksumBlake2, 2);
    if (encrypt) {
        // minisign's own limits, so that its command opens our keys like its own.
        const std::uint64_t ops = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE;
        const std::uint64_t mem = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE;
        std::memcpy(record + 2, kKdfScrypt, 2);
        randombytes_buf(salt, kSaltBytes);
        StoreLittleEndian(salt + kSaltBytes, ops);
        StoreLittleEndian(salt + kSaltBytes + 8, mem);
        if (!ApplyPassword(part, password, salt, ops, mem)) {
            sodium_memzero(record, sizeof record);
            Fail(error, "the secret key cannot be encrypted (out of memory?)");
            return std::nullopt;
        }
    } else {
        std::memcpy(record + 2, kKdfNone, 2);
    }

    KeyPairFiles files;
    files.publicKeyFile = std::string(kUntrustedPrefix) + "minisign public key " + KeyNumberText(keyNumber) +
                          "\n" + Encode(publicRecord, sizeof publicRecord) + "\n";
    files.secretKeyFile = std::string(kUntrustedPrefix) + (encrypt ? "minisign encrypted secret key\n" : "minisign secret key\n") +
                          Encode(record, sizeof record) + "\n";
    sodium_memzero(record, sizeof record);
    return files;
}

std::string SignDigest(const SecretKey& key, const Digest& digest, std::string_view trustedComment)
{
    SodiumReady();
    return SignatureFile(key, true, digest.data(), digest.size(), trustedComment);
}

std::string SignLegacy(const SecretKey& key, std::string_view message, std::string_view trustedComment)
{
    SodiumReady();
    return SignatureFile(key, false, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         trustedComment);
}

std::string KeyNumberText(const KeyNumber& keyNumber)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llX",
                  static_cast<unsigned long long>(LoadLittleEndian(keyNumber.data())));
    return text;
}

}  // namespace minisign

#include "update_signing.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sys/stat.h>

#include "updater/install/minisign.h"

namespace {

bool ReadText(const std::filesystem::path& path, std::string& text, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    text.clear();
    char buffer[4096];
    std::size_t got = 0;
    while (file && (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, got);
    }
    if (!file || std::ferror(file.get())) {
        error = "cannot read " + path.string();
        return false;
    }
    return true;
}

bool WriteReplacing(const std::filesystem::path& path, const std::string& text, std::string& error)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

// Creates the file (never replacing one) and writes the text; `secret` files
// are readable by their owner only.
bool WriteNewFile(const std::filesystem::path& path, const std::string& text, bool secret, std::string& error)
{
    if (std::filesystem::exists(path)) {
        error = path.string() + " already exists; remove it first to make a new key";
        return false;
    }
    const mode_t previous = umask(secret ? 077 : 022);
    const bool written = WriteReplacing(path, text, error);
    umask(previous);
    return written;
}

}  // namespace

bool WriteKeyPair(const std::filesystem::path& folder, bool encrypt, const std::string& password,
                  std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    if (std::filesystem::exists(folder / PUBLIC_KEY_NAME) || std::filesystem::exists(folder / SECRET_KEY_NAME)) {
        error = "a key pair already exists in " + folder.string() + "; remove it first to make a new one";
        return false;
    }
    const auto files = minisign::GenerateKeyPair(encrypt, password, &error);
    return files && WriteNewFile(folder / SECRET_KEY_NAME, files->secretKeyFile, true, error) &&
           WriteNewFile(folder / PUBLIC_KEY_NAME, files->publicKeyFile, false, error);
}

bool SecretKeyIsEncrypted(const std::filesystem::path& secretKey)
{
    std::string text;
    std::string error;
    return ReadText(secretKey, text, error) && minisign::SecretKeyIsEncrypted(text);
}

bool SignUpdateFile(const std::filesystem::path& secretKey, const std::string& password,
                    const std::filesystem::path& file, const std::string& code, const std::string& version,
                    std::string& error)
{
    std::string text;
    if (!ReadText(secretKey, text, error)) {
        return false;
    }
    const auto key = minisign::ParseSecretKey(text, password, &error);
    minisign::Digest digest{};
    if (!key || !minisign::DigestOfFile(file.string(), &digest, &error)) {
        return false;
    }
    const std::string comment = "morvex code=" + code + " version=" + version + " file=" + file.filename().string();
    return WriteReplacing(file.string() + ".minisig", minisign::SignDigest(*key, digest, comment), error);
}

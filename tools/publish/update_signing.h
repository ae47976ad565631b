// Key pairs and signatures for signed updates, in minisign's formats.
#pragma once

#include <filesystem>
#include <string>

// The names the updater and the publishing tool use for a team's key pair.
inline constexpr char PUBLIC_KEY_NAME[] = "MorvexUpdate.pub";
inline constexpr char SECRET_KEY_NAME[] = "MorvexUpdate.key";

// Writes PUBLIC_KEY_NAME and SECRET_KEY_NAME into `folder` (created when
// missing; existing key files are never overwritten). The secret key is
// encrypted with `password` unless `encrypt` is false.
bool WriteKeyPair(const std::filesystem::path& folder, bool encrypt, const std::string& password,
                  std::string& error);

// True when the secret key file needs a password to open.
bool SecretKeyIsEncrypted(const std::filesystem::path& secretKey);

// Writes `file` + ".minisig": a prehashed signature by the secret key with
// "morvex code=CODE version=VERSION file=<file's name>" as trusted comment.
bool SignUpdateFile(const std::filesystem::path& secretKey, const std::string& password,
                    const std::filesystem::path& file, const std::string& code, const std::string& version,
                    std::string& error);

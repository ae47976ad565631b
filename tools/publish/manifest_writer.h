// Writing an update manifest ("version.ini") that the updater reads back exactly.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/types.h"

struct ManifestValues {
    CString version;   // "ver", plain
    CString product;   // "name", plain: the product code
    CString url;       // "url", scrambled
    std::optional<std::uint64_t> size;  // "size", plain; left out when there is no archive
    CString server;    // "ip", scrambled
    CString user;      // "username", scrambled
    CString password;  // "password", scrambled
    bool tls = false;  // "tls=1" in [ftp]: the updater then uses FTP over TLS only
};

// The product codes the updater knows, which are also the server's folder names.
bool IsKnownProductCode(const CString& code);

// False with a message naming the value for a malformed version, an unknown
// product code, a missing host, or a value that has no scrambled form the
// manifest can carry. (Values too long for the updater are found by the
// read-back in WriteManifest.)
bool CheckManifestValues(const ManifestValues& values, std::string& error);

// The manifest as code page 936 bytes with CR LF line ends.
std::string ManifestText(const ManifestValues& values);

// Checks the values, writes the manifest beside `path`, reads every value back
// the way the updater does (profile reader, 20-unit buffers, descrambling) and
// renames it into place only when all of them come back unchanged. False with a
// message otherwise (naming the value, and saying when it is longer than the
// updater reads); nothing is left at `path` then.
bool WriteManifest(const std::filesystem::path& path, const ManifestValues& values, std::string& error);

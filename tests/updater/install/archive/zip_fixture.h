// Building archives for the archive tests with real tools (Python's zipfile,
// Info-ZIP zip) and reading back what extraction left on disk.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "updater/install/archive.h"

namespace ziptest {

struct Item {
    std::string name;  // stored name, UTF-8
    std::string data;
    int method = 8;        // 0 stored, 8 deflated
    int createSystem = 3;  // 0 DOS, 3 Unix
    std::optional<std::uint32_t> externalAttr;
    std::string extra;  // raw extra-field bytes
    std::array<int, 6> dateTime {2021, 6, 15, 10, 20, 30};
    std::optional<std::string> password;  // stored, traditional encryption
};

// A regular file item with Unix mode 0644.
Item File(std::string name, std::string data, int method = 8);
// A directory item with Unix mode 0755.
Item Directory(std::string name);

// Writes the archive with Python's zipfile; fails the test if that fails.
void MakeZip(const std::filesystem::path& out, const std::vector<Item>& items);

// Zips `files` (name, content) with Info-ZIP zip and a password (-P); `store`
// keeps the data uncompressed (-0).
void MakeEncryptedZip(const std::filesystem::path& out,
                      const std::vector<std::pair<std::string, std::string>>& files,
                      const std::string& password, bool store);

// Content of `size` bytes that deflates, but not to nothing.
std::string Pattern(std::size_t size, unsigned seed = 1);

// Every path under root (relative, "/"-separated), directories included.
std::set<std::string> ListTree(const std::filesystem::path& root);

// A little-endian "UT" extra block with the given flags and times.
std::string ExtendedTimestamp(std::uint8_t flags, const std::vector<std::int32_t>& times);

// Offset of the n-th (0-based) occurrence of `needle` in `bytes`; npos if none.
std::size_t FindNth(const std::string& bytes, const std::string& needle, std::size_t n);

struct HandleCloser {
    void operator()(ArchiveHandle* handle) const { ArchiveClose(handle); }
};
using UniqueArchive = std::unique_ptr<ArchiveHandle, HandleCloser>;

UniqueArchive Open(const std::filesystem::path& archive, const char* password = nullptr);

// The install step's loop: set the base, query the count, then query and
// extract each entry to its own path. Returns each extraction's code.
std::vector<ARCRESULT> ExtractAll(ArchiveHandle* handle, const std::filesystem::path& base);

// Windows file time of a Unix time.
std::uint64_t FileTimeOf(std::int64_t unixSeconds);

// Modification time of a file in Unix seconds.
std::int64_t MTimeOf(const std::filesystem::path& path);

}  // namespace ziptest

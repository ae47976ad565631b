// The archive component over an arbitrary memory block, as the updater uses
// it on a downloaded "update.zip": open, the count query, every entry's
// query, extraction into memory and into a scratch folder.
//
// Invariants: a query describes the entry asked for with a relative,
// terminated path; a repeated query gives the same record; memory extraction
// never delivers more than the announced size and delivers all of it when it
// reports success; nothing is ever written outside the base folder, no link
// is ever made, a failed extraction leaves no file behind and changes none,
// and a successful one leaves exactly the announced number of bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "platform/codepage.h"
#include "updater/install/archive.h"

namespace fs = std::filesystem;

namespace {

// The password the encrypted seed archives were made with.
constexpr char kPassword[] = "secret";
constexpr std::int32_t kMaxEntries = 512;

bool SameEntry(const ArchiveEntry& a, const ArchiveEntry& b)
{
    return a.number == b.number && std::memcmp(a.path, b.path, sizeof a.path) == 0 &&
           a.attributes == b.attributes && a.accessTime == b.accessTime && a.creationTime == b.creationTime &&
           a.writeTime == b.writeTime && a.packedSize == b.packedSize && a.unpackedSize == b.unpackedSize;
}

void CheckQuery(const ArchiveEntry& entry, std::int32_t index)
{
    FUZZ_CHECK(entry.number == index, "a query describes the entry asked for");
    const std::size_t length = std::char_traits<char16_t>::find(entry.path, ARC_MAX_PATH, u'\0') == nullptr
                                   ? ARC_MAX_PATH
                                   : std::char_traits<char16_t>::length(entry.path);
    FUZZ_CHECK(length < ARC_MAX_PATH, "the path is terminated inside its 260 units");
    const std::u16string_view path(entry.path, length);
    FUZZ_CHECK(path.empty() || (path[0] != u'/' && path[0] != u'\\'),
               "a sanitised path has no leading separator: " + fuzz::Show(path));
    FUZZ_CHECK(path.size() < 2 || path[1] != u':', "a sanitised path has no drive: " + fuzz::Show(path));
    for (std::u16string_view climb : {u"\\..\\", u"\\../", u"/../", u"/..\\"}) {
        FUZZ_CHECK(path.find(climb) == std::u16string_view::npos,
                   "a sanitised path climbs nowhere: " + fuzz::Show(path));
    }
    FUZZ_CHECK(entry.packedSize >= 0 && entry.unpackedSize >= 0, "sizes are not negative");
}

// Extracts one entry into memory a byte at a time (small entries) or in
// transfer-sized chunks, and checks the amount against the announcement.
void CheckMemoryExtraction(ArchiveHandle* handle, std::int32_t index, const ArchiveEntry& entry)
{
    const bool bytewise = entry.unpackedSize <= 4096;
    std::vector<unsigned char> buffer(bytewise ? 1 : 16384);
    const auto length = static_cast<std::uint32_t>(buffer.size());
    std::int64_t chunks = 0;
    ARCRESULT result = ARC_MORE_DATA;
    while (result == ARC_MORE_DATA) {
        result = ArchiveExtractEntry(handle, index, buffer.data(), length, ARC_KIND_MEMORY);
        if (result == ARC_MORE_DATA) {
            ++chunks;
            // Every "more data" brought at least one byte: more of them than
            // announced bytes means the entry inflated past its size.
            FUZZ_CHECK(chunks <= entry.unpackedSize, "memory extraction stops at the announced size");
        }
    }
    if (bytewise && result == ARC_OK) {
        FUZZ_CHECK(chunks + 1 >= entry.unpackedSize, "a successful extraction delivers the announced size");
    }
}

struct Snapshot {
    std::map<fs::path, std::uintmax_t> files;
};

// Everything below the scratch folder; no link may exist anywhere, and
// nothing may exist outside the base folder but the canary.
Snapshot Survey(const fs::path& scratch, const fs::path& base, const fs::path& canary)
{
    Snapshot snapshot;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(scratch, error); !error && it != fs::end(it);
         it.increment(error)) {
        const fs::path& path = it->path();
        const fs::file_status status = fs::symlink_status(path, error);
        FUZZ_CHECK(!fs::is_symlink(status), "extraction never makes a link: " + path.string());
        const bool insideBase = path.string().rfind(base.string() + "/", 0) == 0;
        FUZZ_CHECK(insideBase || path == base || path == canary || path == canary.parent_path(),
                   "nothing is written outside the base folder: " + path.string());
        if (fs::is_regular_file(status)) {
            snapshot.files[path] = fs::file_size(path, error);
        }
    }
    return snapshot;
}

void CheckFileExtraction(ArchiveHandle* handle, std::int32_t index, const ArchiveEntry& entry,
                         const CString& target, const fs::path& scratch, const fs::path& base,
                         const fs::path& canary)
{
    const Snapshot before = Survey(scratch, base, canary);
    const ARCRESULT result = ArchiveExtractToFile(handle, index, target);
    const Snapshot after = Survey(scratch, base, canary);
    if (result != ARC_OK) {
        FUZZ_CHECK(before.files == after.files,
                   "a failed extraction leaves no file behind and changes none: " + fuzz::Show(target));
        return;
    }
    if ((entry.attributes & ARC_ATTR_DIRECTORY) != 0) {
        return;
    }
    // The one file that changed is the target, with the announced size.
    std::size_t changed = 0;
    for (const auto& [path, size] : after.files) {
        const auto old = before.files.find(path);
        if (old == before.files.end() || old->second != size) {
            ++changed;
            FUZZ_CHECK(size == static_cast<std::uintmax_t>(entry.unpackedSize) || entry.unpackedSize == INT32_MAX,
                       "an extracted file holds the announced size: " + path.string());
        }
    }
    FUZZ_CHECK(after.files.size() <= before.files.size() + 1, "one extraction writes one file");
    FUZZ_CHECK(changed <= 1, "one extraction changes one file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ArchiveHandle* handle =
        ArchiveOpenSource(data, static_cast<std::uint32_t>(size), ARC_KIND_MEMORY, kPassword);
    if (handle == nullptr) {
        return 0;
    }
    fuzz::EmptyScratchFolder();
    const fs::path scratch = fuzz::ScratchFolder();
    const fs::path base = scratch / "base";
    const fs::path canary = scratch / "outside" / "canary";
    fs::create_directories(canary.parent_path());
    std::ofstream(canary) << "canary";
    FUZZ_CHECK(ArchiveSetBaseDir(handle, platform::Utf8ToUtf16(base.string())) == ARC_OK, "the base is accepted");

    ArchiveEntry count;
    FUZZ_CHECK(ArchiveGetEntry(handle, -1, &count) == ARC_OK, "the count query works on an open archive");
    FUZZ_CHECK(count.number >= 0 && count.path[0] == u'\0', "the count query gives a count and no path");
    ArchiveEntry beyond;
    FUZZ_CHECK(ArchiveGetEntry(handle, count.number, &beyond) == ARC_BAD_ARGUMENT, "index = count is refused");
    FUZZ_CHECK(ArchiveGetEntry(handle, -2, &beyond) == ARC_BAD_ARGUMENT, "index -2 is refused");

    for (std::int32_t index = 0; index < std::min(count.number, kMaxEntries); ++index) {
        ArchiveEntry entry;
        if (ArchiveGetEntry(handle, index, &entry) != ARC_OK) {
            FUZZ_CHECK(entry.number == 0 && entry.path[0] == u'\0', "a failed query leaves a count of 0");
            continue;
        }
        CheckQuery(entry, index);
        ArchiveEntry again;
        FUZZ_CHECK(ArchiveGetEntry(handle, index, &again) == ARC_OK && SameEntry(entry, again),
                   "a repeated query gives the same record");

        CheckMemoryExtraction(handle, index, entry);
        const CString path(entry.path);
        for (const CString& target : {path, u"../" + path, u"..\\" + path, u"a/../../" + path, u"\\" + path,
                                      u"C:" + path, u"sub/" + path}) {
            CheckFileExtraction(handle, index, entry, target, scratch, base, canary);
        }
    }
    FUZZ_CHECK(fs::exists(canary) && fs::file_size(canary) == 6, "the file outside the base is untouched");
    FUZZ_CHECK(ArchiveClose(handle) == ARC_OK, "an open archive closes");
    return 0;
}

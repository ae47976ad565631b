#include "update_archive.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/codepage.h"
#include "updater/install/reserved_names.h"

namespace {

// The updater reads entry names into a buffer of this many bytes plus a NUL.
constexpr std::size_t MAX_ENTRY_NAME_BYTES = 259;
constexpr unsigned long DOS_READ_ONLY = 0x01;
constexpr unsigned long DOS_DIRECTORY = 0x10;
// General purpose flag: the name is UTF-8.
constexpr unsigned long NAME_IS_UTF8 = 0x800;
// Version made by: Unix (host 3), ZIP format 2.0. The updater then takes
// the mode stored in the upper half of the external attributes.
constexpr int MADE_ON_UNIX = (3 << 8) | 20;

struct Item {
    std::filesystem::path path;
    std::string name;  // as stored in the archive
    bool directory = false;
};

tm_zip DosTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    // DOS times start in 1980; anything earlier is stored as its first day.
    if (local.tm_year < 80) {
        local = std::tm{};
        local.tm_year = 80;
        local.tm_mday = 1;
    }
    tm_zip out{};
    out.tm_sec = static_cast<uInt>(local.tm_sec);
    out.tm_min = static_cast<uInt>(local.tm_min);
    out.tm_hour = static_cast<uInt>(local.tm_hour);
    out.tm_mday = static_cast<uInt>(local.tm_mday);
    out.tm_mon = static_cast<uInt>(local.tm_mon);
    out.tm_year = static_cast<uInt>(local.tm_year + 1900);
    return out;
}

// "UT" extra block carrying the modification time only.
std::array<unsigned char, 9> ModificationTimeBlock(std::time_t when)
{
    const auto seconds = static_cast<std::uint32_t>(static_cast<std::int32_t>(when));
    return {'U',
            'T',
            5,
            0,
            1,
            static_cast<unsigned char>(seconds & 0xFF),
            static_cast<unsigned char>((seconds >> 8) & 0xFF),
            static_cast<unsigned char>((seconds >> 16) & 0xFF),
            static_cast<unsigned char>((seconds >> 24) & 0xFF)};
}

bool CollectItems(const std::filesystem::path& folder, char separator, std::vector<Item>& items,
                  std::string& error)
{
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const bool directory = it->is_directory(ec);
        if (ec) {
            break;
        }
        if (directory && !std::filesystem::is_empty(it->path(), ec)) {
            continue;  // its files bring it along
        }
        std::string name = std::filesystem::relative(it->path(), folder, ec).generic_string();
        if (ec) {
            break;
        }
        if (archive::IsReservedName(platform::Utf8ToUtf16(name))) {
            error = "the updater keeps its own files under this name and refuses archives holding it: " + name;
            return false;
        }
        std::replace(name.begin(), name.end(), '/', separator);
        if (directory) {
            name.push_back(separator);
        }
        if (name.size() > MAX_ENTRY_NAME_BYTES) {
            error = "name longer than " + std::to_string(MAX_ENTRY_NAME_BYTES) + " bytes: " + name;
            return false;
        }
        items.push_back({it->path(), name, directory});
    }
    if (ec) {
        error = "cannot read " + folder.string() + ": " + ec.message();
        return false;
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
    return true;
}

bool AddItem(zipFile zip, const Item& item, std::string& error)
{
    struct stat info{};
    if (stat(item.path.c_str(), &info) != 0) {
        error = "cannot read " + item.path.string();
        return false;
    }
    zip_fileinfo fileInfo{};
    fileInfo.tmz_date = DosTime(info.st_mtime);
    // The mode (type and permission bits, never the set-id or sticky bits) in
    // the upper half, the DOS attributes in the lower.
    fileInfo.external_fa = (static_cast<unsigned long>((info.st_mode & S_IFMT) | (info.st_mode & 0777)) << 16) |
                           (item.directory ? DOS_DIRECTORY : 0);
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        fileInfo.external_fa |= DOS_READ_ONLY;
    }
    const auto extra = ModificationTimeBlock(info.st_mtime);
    const bool large = static_cast<std::uint64_t>(info.st_size) >= 0xFFFFFFFFULL;
    if (zipOpenNewFileInZip4_64(zip, item.name.c_str(), &fileInfo, extra.data(), extra.size(),
                                extra.data(), extra.size(), nullptr, item.directory ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                                0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, MADE_ON_UNIX,
                                NAME_IS_UTF8, large ? 1 : 0) != ZIP_OK) {
        error = "cannot add " + item.name;
        return false;
    }
    bool written = true;
    if (!item.directory) {
        std::ifstream in(item.path, std::ios::binary);
        std::vector<char> buffer(1 << 16);
        while (written && in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto got = static_cast<unsigned>(in.gcount());
            written = got == 0 || zipWriteInFileInZip(zip, buffer.data(), got) == ZIP_OK;
        }
        if (!in.eof()) {
            written = false;
        }
    }
    if (zipCloseFileInZip(zip) != ZIP_OK || !written) {
        error = "cannot pack " + item.path.string();
        return false;
    }
    return true;
}

}  // namespace

bool WriteUpdateArchive(const std::filesystem::path& folder, const std::filesystem::path& archive,
                        char separator, std::string& error)
{
    if (!std::filesystem::is_directory(folder)) {
        error = "not a folder: " + folder.string();
        return false;
    }
    std::vector<Item> items;
    if (!CollectItems(folder, separator, items, error)) {
        return false;
    }
    std::filesystem::path partial = archive;
    partial += ".partial";
    zipFile zip = zipOpen64(partial.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) {
        error = "cannot create " + partial.string();
        return false;
    }
    bool ok = true;
    for (const Item& item : items) {
        if (!AddItem(zip, item, error)) {
            ok = false;
            break;
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK && ok) {
        error = "cannot finish " + partial.string();
        ok = false;
    }
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(partial, archive, ec);
        if (ec) {
            error = "cannot create " + archive.string() + ": " + ec.message();
            ok = false;
        }
    }
    if (!ok) {
        std::filesystem::remove(partial, ec);
    }
    return ok;
}

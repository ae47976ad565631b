#include "updater/install/archive/zip_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace ziptest {

namespace {

std::string Hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 0xF]);
    }
    return out;
}

std::string EntryJson(const Item& item)
{
    std::string json = "{\"name_hex\":\"" + Hex(item.name) + "\",\"data_hex\":\"" + Hex(item.data) +
                       "\",\"method\":" + std::to_string(item.method) +
                       ",\"create_system\":" + std::to_string(item.createSystem) + ",\"extra_hex\":\"" +
                       Hex(item.extra) + "\",\"date_time\":[";
    for (std::size_t i = 0; i < item.dateTime.size(); ++i) {
        json += (i ? "," : "") + std::to_string(item.dateTime[i]);
    }
    json += "]";
    if (item.externalAttr) {
        json += ",\"external_attr\":" + std::to_string(*item.externalAttr);
    }
    if (item.password) {
        json += ",\"password\":\"" + *item.password + "\"";
    }
    return json + "}";
}

}  // namespace

Item File(std::string name, std::string data, int method)
{
    Item item;
    item.name = std::move(name);
    item.data = std::move(data);
    item.method = method;
    item.externalAttr = 0100644U << 16;
    return item;
}

Item Directory(std::string name)
{
    Item item;
    item.name = std::move(name);
    item.method = 0;
    item.externalAttr = (040755U << 16) | 0x10U;
    return item;
}

void MakeZip(const std::filesystem::path& out, const std::vector<Item>& items)
{
    // The output path goes through hex as well, so any character is safe.
    std::string json = "{\"out_hex\":\"" + Hex(out.string()) + "\",\"entries\":[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        json += (i ? "," : "") + EntryJson(items[i]);
    }
    json += "]}";
    const std::filesystem::path layout = out.string() + ".json";
    testsupport::WriteFileBytes(layout, json);
    const std::string script = std::string(MORVEX_SOURCE_DIR) + "/tests/updater/install/archive/make_zip.py";
    ASSERT_EQ(testsupport::RunAndWait({MORVEX_PYTHON, script, layout.string()}), 0)
        << "Python's zipfile should build " << out;
    std::filesystem::remove(layout);
}

void MakeEncryptedZip(const std::filesystem::path& out,
                      const std::vector<std::pair<std::string, std::string>>& files,
                      const std::string& password, bool store)
{
    testsupport::TempDir staging;
    std::vector<std::string> argv = {"zip", "-q", "-X"};
    if (store) {
        argv.emplace_back("-0");
    }
    argv.insert(argv.end(), {"-P", password, std::filesystem::absolute(out).string()});
    for (const auto& [name, content] : files) {
        const auto path = staging.path() / name;
        std::filesystem::create_directories(path.parent_path());
        testsupport::WriteFileBytes(path, content);
        argv.push_back(name);
    }
    testsupport::ChildOptions options;
    options.workDir = staging.path();
    ASSERT_EQ(testsupport::RunAndWait(argv, options), 0) << "Info-ZIP zip should build " << out;
}

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    unsigned state = seed * 2654435761U + 1;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245U + 12345U;
        // Mostly text with some noise: compresses, but not trivially.
        out[i] = (state >> 16) % 7 == 0 ? static_cast<char>(state >> 24) : static_cast<char>('a' + (i % 23));
    }
    return out;
}

std::set<std::string> ListTree(const std::filesystem::path& root)
{
    std::set<std::string> paths;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        paths.insert(std::filesystem::relative(it->path(), root).generic_string());
    }
    return paths;
}

std::string ExtendedTimestamp(std::uint8_t flags, const std::vector<std::int32_t>& times)
{
    std::string block = "UT";
    const auto size = static_cast<std::uint16_t>(1 + 4 * times.size());
    block.push_back(static_cast<char>(size & 0xFF));
    block.push_back(static_cast<char>(size >> 8));
    block.push_back(static_cast<char>(flags));
    for (std::int32_t t : times) {
        const auto u = static_cast<std::uint32_t>(t);
        for (int shift = 0; shift < 32; shift += 8) {
            block.push_back(static_cast<char>((u >> shift) & 0xFF));
        }
    }
    return block;
}

std::size_t FindNth(const std::string& bytes, const std::string& needle, std::size_t n)
{
    std::size_t at = bytes.find(needle);
    while (at != std::string::npos && n-- > 0) {
        at = bytes.find(needle, at + 1);
    }
    return at;
}

UniqueArchive Open(const std::filesystem::path& archive, const char* password)
{
    return UniqueArchive(ArchiveOpen(testsupport::U16(archive.string()), password));
}

std::vector<ARCRESULT> ExtractAll(ArchiveHandle* handle, const std::filesystem::path& base)
{
    std::vector<ARCRESULT> codes;
    ArchiveSetBaseDir(handle, testsupport::U16(base.string() + "/"));
    ArchiveEntry entry;
    ArchiveGetEntry(handle, -1, &entry);
    const std::int32_t count = entry.number;
    for (std::int32_t i = 0; i < count; ++i) {
        ArchiveGetEntry(handle, i, &entry);
        codes.push_back(ArchiveExtractToFile(handle, i, CString(entry.path)));
    }
    return codes;
}

std::uint64_t FileTimeOf(std::int64_t unixSeconds)
{
    return static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
}

std::int64_t MTimeOf(const std::filesystem::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        ADD_FAILURE() << "cannot stat " << path;
        return 0;
    }
    return st.st_mtim.tv_sec;
}

}  // namespace ziptest

#include "tools/docvert/temp_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace docvert {

namespace {

void RemoveTree(const std::filesystem::path& path)
{
    std::error_code ec;
    // A converter may leave read-only files or folders behind.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path, ec);
}

void RemoveAbandonedFolders(const std::filesystem::path& base)
{
    const auto now = std::filesystem::file_time_type::clock::now();
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(base, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        struct stat info {};
        if (name.size() != 14 || name.compare(0, 8, "docvert-") != 0 ||
            lstat(it->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
            continue;
        }
        std::error_code timeError;
        const auto modified = std::filesystem::last_write_time(it->path(), timeError);
        if (!timeError && now - modified > kAbandonedFolderAge) {
            RemoveTree(it->path());
        }
    }
}

}  // namespace

TempFolder::TempFolder()
{
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        base = "/tmp";
    }
    RemoveAbandonedFolders(base);
    std::string pattern = (base / "docvert-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempFolder::~TempFolder()
{
    if (!m_path.empty()) {
        RemoveTree(m_path);
    }
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes)
{
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::path partial = path;
    partial += ".part";
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            ok = false;
        }
    }
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(partial.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(partial.c_str());
    }
    return ok;
}

}  // namespace docvert

#include "support/script_tools.h"

#include <chrono>
#include <fstream>
#include <cstdio>
#include <thread>

#include "support/temp_dir.h"
#include "support/wait.h"

void WriteScript(const std::filesystem::path& path, const std::string& body)
{
    testsupport::WriteFileBytes(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec);
}

std::vector<std::string> ReadLines(const std::filesystem::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool WaitForLines(const std::filesystem::path& path, std::size_t count)
{
    return testsupport::WaitUntil([&] { return ReadLines(path).size() >= count; });
}

bool WaitForFile(const std::filesystem::path& path)
{
    return testsupport::WaitUntil([&] { return std::filesystem::exists(path); });
}

namespace {

bool AnyProcessRuns(const std::string& program)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string cmdline;
        if (FILE* file = std::fopen((entry.path() / "cmdline").c_str(), "rb")) {
            char buffer[4096];
            std::size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
                cmdline.append(buffer, got);
            }
            std::fclose(file);
        }
        // Arguments are NUL-separated; a script runs as "/bin/sh <path> ...".
        std::size_t start = 0;
        while (start < cmdline.size()) {
            const std::size_t end = cmdline.find('\0', start);
            if (cmdline.compare(start, end - start, program) == 0) {
                return true;
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    return false;
}

}  // namespace

bool WaitUntilNotRunning(const std::filesystem::path& path)
{
    return testsupport::WaitUntil([&] { return !AnyProcessRuns(path.string()); });
}

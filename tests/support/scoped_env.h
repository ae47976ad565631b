// Environment variables changed for one scope only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

// Sets an environment variable for one scope and restores what was there
// (including its absence) when the scope ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// The current PATH with `folder` searched first: stand-in programs placed
// there win over the machine's own.
std::string PathWithFirst(const std::filesystem::path& folder);

}  // namespace testsupport

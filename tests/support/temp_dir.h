// A fresh folder per test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // path() / name as a string
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

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

// Whole-file helpers; they fail the current test when the file cannot be used.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// UTF-16 <-> UTF-8 for building test paths and messages.
std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& utf16);

}  // namespace testsupport

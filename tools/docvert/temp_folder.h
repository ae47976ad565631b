// A private temporary folder for one conversion.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace docvert {

class TempFolder {
public:
    // Creates "docvert-XXXXXX" in the system's temporary folder ($TMPDIR, else
    // /tmp), readable by the owner only; valid() is false when that fails.
    // Folders of this kind that are older than any conversion can run are
    // removed first: a host that ended during a conversion left them.
    TempFolder();
    // Removes the folder with everything in it, whatever the conversion left.
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool valid() const { return !m_path.empty(); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// A conversion runs its converters one after another, each under a limit of at
// most a minute; a folder this old belongs to no running conversion.
constexpr std::chrono::minutes kAbandonedFolderAge{15};

// Whole-file helpers; false when the file cannot be read or written.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);
// Writes the bytes to a new file beside `path` and renames it over `path`, so
// that a failure never leaves a half-written file at `path`.
bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace docvert

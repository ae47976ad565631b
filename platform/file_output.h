// Writing files: whole-or-nothing replacement of a file, writes to an open
// descriptor, file times and the read-only state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_input.h"
#include "platform/types.h"

namespace platform {

// File times in Windows units: 100-nanosecond intervals since 1601-01-01 UTC.
// A time of 0 leaves that time as it is.
struct FileTimes {
    std::uint64_t creation = 0;
    std::uint64_t lastAccess = 0;
    std::uint64_t lastWrite = 0;
};

// Writes every byte at the descriptor's position; false on any failure (the
// bytes already written stay).
bool WriteAll(FileHandle file, const void* data, std::size_t size);

// Sets the last-access and last-write times of an open file. Linux keeps a
// creation (birth) time but offers no call that sets it, so `creation` is not
// applied. False when the times cannot be set.
bool SetFileTimes(FileHandle file, const FileTimes& times);

// True when the path names something that may be replaced or written: it does
// not exist, or it is not a directory and it has write permission. A file
// without any write permission bit counts as read-only even for the superuser,
// as a read-only file does on Windows.
bool IsReplaceable(const Path& path);
inline bool IsReplaceable(const CString& path) { return IsReplaceable(ToPath(path)); }  // program text

enum class CommitResult {
    Replaced,     // the target now holds the new content
    WriteFailed,  // the data could not be stored (closing reported an error)
    CantReplace,  // the target could not be replaced
};

// A new file that takes the place of its target only when committed.
//
// The data goes to a temporary file in the target's directory, so the final
// rename replaces the target in one step: a reader sees either the old content
// or the whole new one, never a part. Until Commit succeeds the target is left
// untouched, and a ReplacementFile destroyed without Commit removes its
// temporary file. A replaced file keeps the permission bits and, where the
// process may set it, the owner of the file it replaces.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Prepares the temporary file; false (nothing created) when the target is
    // not replaceable (see IsReplaceable) or its directory does not take a new
    // file. A replaced file's permission bits carry over; a new file gets
    // `newFilePermissions` (only its 0777 bits), or the default when 0.
    bool Create(const Path& target, unsigned newFilePermissions = 0);
    bool Create(const CString& target, unsigned newFilePermissions = 0)  // program text
    {
        return Create(ToPath(target), newFilePermissions);
    }

    // Appends to the temporary file; false on any failure.
    bool Write(const void* data, std::size_t size);

    // Applies the times and the read-only state (no write permission bits),
    // then renames the temporary file over the target. On failure the
    // temporary file is removed and the target is unchanged.
    CommitResult Commit(const FileTimes& times, bool readOnly);

    // Removes the temporary file; the target is unchanged.
    void Discard();

private:
    FileHandle m_file = kInvalidFileHandle;
    std::string m_tempPath;
    std::string m_targetPath;
};

}  // namespace platform

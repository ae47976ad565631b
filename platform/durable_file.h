// Small files that must survive a crash or a power loss whole, and keeping a
// file's content aside before it is replaced.
#pragma once

#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/types.h"

namespace platform {

// Replaces the file at `path` with `bytes` so that after a crash it holds
// either its old content or all of the new one: a temporary file in the same
// directory is written and flushed to the disk, renamed over the target, and
// the directory is flushed too. False (target unchanged) on any failure.
bool WriteFileDurably(const Path& path, const std::string& bytes);

// Puts `bytes` in place of the content of `path`, a file that this process
// may hold open itself (a database under its own lock), on the disk when the
// call returns. POSIX: WriteFileDurably, since an open file can be replaced.
// Windows: a file held open without delete sharing can be neither replaced
// nor renamed, so an existing file is rewritten in place, cut to the new
// length and flushed. That is not atomic: a crash may leave it half written,
// so the caller must keep `bytes` until the call succeeded and write them
// again after a crash (the update journal keeps its copy until then).
bool OverwriteFileDurably(const Path& path, const std::string& bytes);

// Flushes a directory's entries (new, renamed and removed names) to the disk.
bool SyncDirectory(const Path& path);

// A log that only grows: every line is on the disk before Append returns, so
// after a crash the log holds every appended line and at most one torn last
// line (one without its line feed), which readers ignore.
class DurableLog {
public:
    DurableLog() = default;
    ~DurableLog();
    DurableLog(const DurableLog&) = delete;
    DurableLog& operator=(const DurableLog&) = delete;

    // Opens (creating when missing) the log for appending.
    bool Open(const Path& path);
    bool Open(const CString& path) { return Open(ToPath(path)); }  // program text
    // Appends `line` and a line feed; false on any failure.
    bool Append(const std::string& line);
    // Appends every line, each with a line feed, and flushes once: cheaper
    // than one Append each, with the same guarantee once it returns.
    bool AppendAll(const std::vector<std::string>& lines);
    void Close();

private:
    int m_fd = -1;
};

// Makes `to` (which must not exist) hold what `from` holds now, in a way that
// replacing `from` by a rename later leaves `to` untouched: a hard link when
// both lie on one file system that has them, else a flushed copy. A symbolic
// link is kept as a link, never followed. False (nothing left at `to`) on
// failure. `linked` tells which way was taken.
bool KeepFileAside(const Path& from, const Path& to, bool* linked = nullptr);

// The forms for paths held as program text (see platform/files.h).
inline bool WriteFileDurably(const CString& path, const std::string& bytes)
{
    return WriteFileDurably(ToPath(path), bytes);
}
inline bool SyncDirectory(const CString& path) { return SyncDirectory(ToPath(path)); }
inline bool KeepFileAside(const CString& from, const CString& to, bool* linked = nullptr)
{
    return KeepFileAside(ToPath(from), ToPath(to), linked);
}

// Ends the calling process at once, as a crash or a kill would: no clean-up,
// no handlers. Used by the test hook that proves crash safety. POSIX: SIGKILL;
// Windows: TerminateProcess with kAbruptEndExitCode, an exit status no
// program of ours gives otherwise, so that whoever started the process can
// tell this end from a normal exit.
[[noreturn]] void EndProcessAbruptly();
inline constexpr unsigned kAbruptEndExitCode = 0xAB;

}  // namespace platform

namespace platform {

// The calling process's id.
unsigned long CurrentProcessId();

// Removes the temporary files that a ReplacementFile of process `pid` left in
// `directory` when that process ended before committing or discarding them.
void RemoveStaleReplacementFiles(const Path& directory, unsigned long pid);
inline void RemoveStaleReplacementFiles(const CString& directory, unsigned long pid)  // program text
{
    RemoveStaleReplacementFiles(ToPath(directory), pid);
}

}  // namespace platform

// Files and directories.
//
// Every function takes a Path (platform/path.h). The programs' own code still
// builds many paths as text with the Windows separator (installation directory
// + "ini\update.sql"); for those callers each function keeps a thin overload
// that takes the text and goes through ToPath. A CString argument always picks
// that overload, so "\" is never left inside a file name by accident.
#pragma once

#include <cstdio>
#include <string>

#include "platform/path.h"
#include "platform/types.h"

namespace platform {

// The native (UTF-8, "/"-separated) form of a program path.
std::string NativePath(const CString& path);

// Deletes a file; false when it did not exist or could not be deleted.
bool DeleteFileW(const Path& path);

// Copies a file; fails (false, nothing written) when the target already exists
// or the source cannot be read.
bool CopyFileNoReplace(const Path& from, const Path& to);

// Moves a file onto `to`, replacing a file there, in one step: afterwards `to`
// holds either its old or the new content, never nothing. Both paths must be on
// the same file system. False (nothing changed) on failure.
bool MoveFileReplace(const Path& from, const Path& to);

// True when something (file or directory) exists at the path.
bool PathExists(const Path& path);
bool IsDirectory(const Path& path);

// Creates one directory level; false when it could not be created.
bool CreateDirectoryW(const Path& path);

// Removes an empty directory; false otherwise.
bool RemoveDirectoryW(const Path& path);

// Removes a file or a directory with everything in it; a missing path is no
// error (true). Symbolic links are removed, never followed.
bool RemoveTree(const Path& path);

// Opens the file as a C stream with fopen's `mode` ("rb", "ab+", ...), by its
// native name: on Windows the wide one, so that a name outside the ANSI code
// page opens too. Null when it cannot be opened.
std::FILE* OpenFileStream(const Path& path, const char* mode);

// The process's current directory, without a trailing separator; empty when it
// cannot be read.
Path CurrentDirectory();
// The same as program text.
CString GetCurrentDirectoryW();

// The forms for paths held as program text.
inline bool DeleteFileW(const CString& path) { return DeleteFileW(ToPath(path)); }
inline bool CopyFileNoReplace(const CString& from, const CString& to)
{
    return CopyFileNoReplace(ToPath(from), ToPath(to));
}
inline bool MoveFileReplace(const CString& from, const CString& to)
{
    return MoveFileReplace(ToPath(from), ToPath(to));
}
inline bool PathExists(const CString& path) { return PathExists(ToPath(path)); }
inline bool IsDirectory(const CString& path) { return IsDirectory(ToPath(path)); }
inline bool CreateDirectoryW(const CString& path) { return CreateDirectoryW(ToPath(path)); }
inline bool RemoveDirectoryW(const CString& path) { return RemoveDirectoryW(ToPath(path)); }
inline bool RemoveTree(const CString& path) { return RemoveTree(ToPath(path)); }

}  // namespace platform

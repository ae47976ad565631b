// Files and directories.
//
// The programs build paths with the Windows separator (installation directory +
// "ini\update.sql"); every function here takes such a UTF-16 path and turns each
// "\" into "/" and the text into UTF-8 before it reaches the file system.
#pragma once

#include <string>

#include "platform/types.h"

namespace platform {

// The native (UTF-8, "/"-separated) form of a program path.
std::string NativePath(const CString& path);

// Deletes a file; false when it did not exist or could not be deleted.
bool DeleteFileW(const CString& path);

// Copies a file; fails (false, nothing written) when the target already exists
// or the source cannot be read.
bool CopyFileNoReplace(const CString& from, const CString& to);

// Moves a file onto `to`, replacing a file there, in one step: afterwards `to`
// holds either its old or the new content, never nothing. Both paths must be on
// the same file system. False (nothing changed) on failure.
bool MoveFileReplace(const CString& from, const CString& to);

// True when something (file or directory) exists at the path.
bool PathExists(const CString& path);
bool IsDirectory(const CString& path);

// Creates one directory level; false when it could not be created.
bool CreateDirectoryW(const CString& path);

// Removes an empty directory; false otherwise.
bool RemoveDirectoryW(const CString& path);

// Removes a file or a directory with everything in it; a missing path is no
// error (true). Symbolic links are removed, never followed.
bool RemoveTree(const CString& path);

// The process's current directory, without a trailing separator; empty when it
// cannot be read.
CString GetCurrentDirectoryW();

}  // namespace platform

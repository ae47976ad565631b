// File-system paths.
//
// A path is carried as a Path from where it is first known (the module path,
// the installation directory, a command-line argument) to where it meets the
// file system, minizip, SQLite or a child process. Only there does it take the
// form that interface wants: the native string (`Path::c_str()`) for the C
// library, UTF-8 for SQLite, UTF-16 for texts the user reads. Paths are never
// passed through the ANSI code page: it cannot hold every file name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform {

using Path = std::filesystem::path;

// A path written the way the programs write them ("D\ini\update.sql", either
// separator) as a Path. Unpaired surrogates become U+FFFD; never throws.
Path ToPath(const CString& text);

// The same for a path held as UTF-8 text; bytes that are no UTF-8 are kept
// as they are (the file system takes any bytes).
Path Utf8ToPath(std::string_view text);

// The path as UTF-16 text with native separators, for messages and for the
// interfaces that take wide program text.
CString PathText(const Path& path);

// The path as UTF-8, for SQLite and logs.
std::string PathUtf8(const Path& path);

}  // namespace platform

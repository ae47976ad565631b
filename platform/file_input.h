// Reading files through open descriptors, at explicit offsets.
//
// The archive component reads its source through these, so that an archive
// can come from a path or from a descriptor the caller already holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/path.h"

namespace platform {

// An open file as the operating system names it (a descriptor on POSIX).
using FileHandle = int;
constexpr FileHandle kInvalidFileHandle = -1;

// Opens an existing file for reading; kInvalidFileHandle when it cannot be
// opened (missing, no permission, a directory).
FileHandle OpenFileForReading(const Path& path);

void CloseFileHandle(FileHandle file);

// The descriptor's current position; false when it has none (a pipe, a socket
// or a closed descriptor).
bool GetFilePosition(FileHandle file, std::int64_t& position);

// The file's size in bytes; false when it cannot be read.
bool GetFileSize(FileHandle file, std::int64_t& size);

// Reads up to `size` bytes at `offset` without moving the descriptor's
// position; returns the number of bytes read (0 at the end), or -1 on error.
std::int64_t ReadFileAt(FileHandle file, void* buffer, std::size_t size, std::int64_t offset);

}  // namespace platform

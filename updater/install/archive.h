// The update archive component: a handle-based interface for reading a ZIP
// archive and unpacking its entries under a base directory.
//
// Every operation returns one of the ARC_ result codes (ARC_OK on success) or,
// for the two opening calls, a handle or null. No operation throws.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/types.h"
#include "updater/install/archive_types.h"

class CArchiveReader;

constexpr std::int32_t ARC_HANDLE_TAG = 1;

// What ArchiveOpen hands out; owned by the caller until ArchiveClose.
struct ArchiveHandle {
    ArchiveHandle();
    ~ArchiveHandle();
    ArchiveHandle(const ArchiveHandle&) = delete;
    ArchiveHandle& operator=(const ArchiveHandle&) = delete;

    std::int32_t kind = 0;  // ARC_HANDLE_TAG for a live handle
    std::unique_ptr<CArchiveReader> reader;
};

// Opens the archive file `path` (null on failure: missing file, not a ZIP
// archive). `password` (may be null) is copied and used for encrypted entries.
ArchiveHandle* ArchiveOpen(const CString& path, const char* password);

// Opens an archive from a descriptor, a file name or a memory block (see the
// kinds above); `length` is used by ARC_KIND_MEMORY only. Null on any failure;
// a memory block must stay valid until ArchiveClose.
ArchiveHandle* ArchiveOpenSource(const void* source, std::uint32_t length, std::int32_t kind,
                                 const char* password);

// Sets the directory relative targets are written under. A separator is
// appended unless `dir` ends in one; an empty `dir` means the process's current
// directory. A directory too long for ARC_MAX_PATH gives ARC_BAD_ARGUMENT, and
// every relative extraction then fails with ARC_CANT_OPEN_FILE.
ARCRESULT ArchiveSetBaseDir(ArchiveHandle* handle, const CString& dir);

// Describes entry `index` (0-based); index -1 gives the entry count in
// `number`. `entry.number`, `entry.path` and `entry.unpackedSize` are cleared
// before anything else, so a failed query leaves a count of 0.
ARCRESULT ArchiveGetEntry(ArchiveHandle* handle, std::int32_t index, ArchiveEntry* entry);

// Extracts entry `index` to a target of the given kind. A file target is
// replaced only when the whole entry arrived with a matching CRC-32; on any
// failure an existing file keeps its content. Targets that are absolute or
// contain a ".." component are refused with ARC_CANT_OPEN_FILE.
ARCRESULT ArchiveExtractEntry(ArchiveHandle* handle, std::int32_t index, void* target,
                              std::uint32_t length, std::int32_t kind);

// ArchiveExtractEntry with a file name target.
ARCRESULT ArchiveExtractToFile(ArchiveHandle* handle, std::int32_t index, const CString& path);

// From now on, file targets call `hook` before each folder they create and
// before the file they create or replace (an empty hook: none is called).
ARCRESULT ArchiveSetWriteHook(ArchiveHandle* handle, ArchiveWriteHook hook);

// Calls the write hook for every write ArchiveExtractToFile(handle, index,
// path) would make now, and writes nothing; the codes are the extraction's,
// apart from those of reading the entry's data.
ARCRESULT ArchivePlanToFile(ArchiveHandle* handle, std::int32_t index, const CString& path);

// Closes the archive and destroys the handle (ARC_OK), or reports a null or
// foreign handle without touching it.
ARCRESULT ArchiveClose(ArchiveHandle* handle);

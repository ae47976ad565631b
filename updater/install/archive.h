// The update archive component: a handle-based interface for reading a ZIP
// archive and unpacking its entries under a base directory.
//
// Every operation returns one of the ARC_ result codes (ARC_OK on success) or,
// for the two opening calls, a handle or null. No operation throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/file_input.h"
#include "platform/types.h"

// Result codes.
using ARCRESULT = std::uint32_t;
constexpr ARCRESULT ARC_OK = 0;
// The archive cannot be opened or is not a readable ZIP archive, or a target
// cannot be created (or would land outside the base directory).
constexpr ARCRESULT ARC_CANT_OPEN_FILE = 0x200;
constexpr ARCRESULT ARC_WRITE_FAILED = 0x400;
// Memory target: the buffer is full and more data follows.
constexpr ARCRESULT ARC_MORE_DATA = 0x600;
// The entry's local header does not match its central-directory record, the
// entry uses a compression method other than stored or deflate, or the central
// directory cannot be walked to the entry.
constexpr ARCRESULT ARC_CORRUPT = 0x700;
// Seeking to or reading the entry's local extra field failed.
constexpr ARCRESULT ARC_READ_FAILED = 0x800;
// The encryption header check of an encrypted entry failed (or no password).
constexpr ARCRESULT ARC_BAD_PASSWORD = 0x1000;
// Null handle, index out of range, unknown kind.
constexpr ARCRESULT ARC_BAD_ARGUMENT = 0x10000;
// The handle's kind tag is not ARC_HANDLE_TAG.
constexpr ARCRESULT ARC_WRONG_HANDLE = 0x80000;
// A descriptor source cannot report its position (a pipe, for instance).
constexpr ARCRESULT ARC_NOT_SEEKABLE = 0x2000000;
// Reading or decompressing entry data failed, or its CRC-32 did not match.
constexpr ARCRESULT ARC_INFLATE_FAILED = 0x5000000;

// Source and target kinds (one numbering serves both).
//  ARC_KIND_HANDLE: `source`/`target` points to a platform::FileHandle (an open
//    descriptor). As a source it must be seekable; archive offsets count from
//    its position at open time and it is never closed by the component. As a
//    target the entry is written at its position; it is never closed.
//  ARC_KIND_FILE: a NUL-terminated UTF-16 path (const char16_t*).
//  ARC_KIND_MEMORY: a memory block of `length` bytes. As a source, reads past
//    its end are cut; as a target, the buffer is filled chunk by chunk.
constexpr std::int32_t ARC_KIND_HANDLE = 1;
constexpr std::int32_t ARC_KIND_FILE = 2;
constexpr std::int32_t ARC_KIND_MEMORY = 3;

// Every path held by the component fits in this many UTF-16 units including the
// terminator; longer names and paths are refused rather than cut.
constexpr std::size_t ARC_MAX_PATH = 260;

// Windows file attribute bits as carried in ArchiveEntry::attributes.
constexpr std::uint32_t ARC_ATTR_READONLY = 0x01;
constexpr std::uint32_t ARC_ATTR_HIDDEN = 0x02;
constexpr std::uint32_t ARC_ATTR_SYSTEM = 0x04;
constexpr std::uint32_t ARC_ATTR_DIRECTORY = 0x10;
constexpr std::uint32_t ARC_ATTR_ARCHIVE = 0x20;

// One entry as ArchiveGetEntry describes it. Times count 100-nanosecond
// intervals since 1601-01-01 00:00 UTC; 0 means "unknown" (an entry whose DOS
// date is not a calendar date), and a file written from such an entry keeps
// the time it was written at.
struct ArchiveEntry {
    // Index in central-directory order; for the query of index -1 the number
    // of entries.
    std::int32_t number = 0;
    // The stored name after sanitising, NUL-terminated.
    char16_t path[ARC_MAX_PATH] = {};
    std::uint32_t attributes = 0;
    std::uint64_t accessTime = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t writeTime = 0;
    std::int32_t packedSize = 0;
    std::int32_t unpackedSize = 0;
    // The permission bits (at most 0777) an archive made on Unix stores for a
    // file; 0 when it stores none. A file the entry creates gets them.
    std::uint32_t permissions = 0;
};

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

// Closes the archive and destroys the handle (ARC_OK), or reports a null or
// foreign handle without touching it.
ARCRESULT ArchiveClose(ArchiveHandle* handle);

// The archive component's shared vocabulary: result codes, source and target
// kinds, the entry description and the write hook. The facade (archive.h) and
// the reader behind it both speak it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/file_input.h"
#include "platform/path.h"

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


// A write the extraction of an entry to a file is about to make: a folder it
// creates, or the file it creates or replaces. `exists`: something (a symbolic
// link included) is at `path` already.
struct ArchiveWrite {
    platform::Path path;
    bool directory = false;
    bool exists = false;
};

// Called before each write; false refuses it: the write does not happen and
// the extraction fails with ARC_CANT_OPEN_FILE.
using ArchiveWriteHook = std::function<bool(const ArchiveWrite&)>;

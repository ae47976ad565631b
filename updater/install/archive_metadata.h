// Attributes and time stamps of archive entries, from the raw fields of the
// central directory and the local extra field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "updater/install/archive_types.h"

namespace archive {

// Windows attribute bits (ARC_ATTR_*) from the version-made-by field and the
// external attributes. Archives made on DOS-like hosts (0, 7, 11, 14) carry
// those bits in the low byte; others (Unix) are read from the mode in the
// upper 16 bits: directory type, and read-only when the owner may not write.
std::uint32_t EntryAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);

// The permission bits of a regular file's entry from an archive made on Unix
// (host 3), read from the mode in the upper 16 bits of the external
// attributes; the set-id and sticky bits and any other file type are never
// taken. 0 for other hosts and for entries that are not regular files.
std::uint32_t EntryPermissions(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);

// The file time (UTC) of a DOS date and time taken as local time; false, with
// `fileTime` unchanged, when they are not a calendar date and time.
bool DosTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, std::uint64_t& fileTime);

// The file time of a count of seconds since 1970-01-01 UTC.
std::uint64_t UnixTimeToFileTime(std::int64_t seconds);

// Scans a local extra field for an extended-timestamp ("UT") block and lets the
// times it holds override those of `entry`. Only bytes inside the field are
// read, whatever the block sizes claim.
void ApplyExtendedTimestamp(const unsigned char* extra, std::size_t size, ArchiveEntry& entry);

}  // namespace archive

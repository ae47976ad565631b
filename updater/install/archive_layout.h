// A check of an update archive's layout, made before anything is unpacked.
//
// A ZIP reader trusts the last end record it finds and walks only as many
// directory records as that claims: an end record claiming no entries, one
// appended to a good archive, or a directory that leaves entries out would
// all read as a smaller (or empty) archive, and the update would install
// only part of itself. Such an archive is damaged, and so is one without any
// entry.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace archive {

struct ArchiveLayout {
    bool sound = false;
    std::string problem;            // what is wrong when not sound
    std::uint32_t entries = 0;
    std::uint64_t unpackedTotal = 0;  // the sum of the announced sizes
};

// Sound when the archive is one disk holding at least one entry; its end
// record (or ZIP64 end record) closes the file and follows the central
// directory directly; the directory holds exactly the records it claims; and
// the local entries those records point to fill the file from its first byte
// up to the directory, one after another, with nothing left over or shared.
ArchiveLayout CheckArchiveLayout(const CString& path);

}  // namespace archive

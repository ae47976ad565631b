// The updater's own files in the installation directory. An update archive
// must never write them: the journal folder would let it rewrite what a roll
// back does, the lock file would let a second updater in, and the two
// downloads are replaced or deleted by the update itself.
#pragma once

#include <vector>

#include "platform/types.h"

namespace archive {

inline constexpr char16_t RESERVED_JOURNAL_FOLDER[] = u"MorvexUpdate.journal";
inline constexpr char16_t RESERVED_LOCK_FILE[] = u"MorvexUpdate.lock";

// The components of a relative name as the file system walks them: split at
// "/" and "\", with empty and "." components dropped.
std::vector<CString> NameComponents(const CString& name);

// True when a name relative to the installation directory lands on one of the
// updater's own files: its first component, compared without regard to ASCII
// case, is the lock file, "newversion.ini" or "update.zip", or starts with the
// journal folder's name (which covers the retired journal too).
bool IsReservedName(const CString& relativeName);

// True when `path` (as the journal records it) lies inside `installDir` (empty,
// or ending in a separator): it starts with it, climbs out nowhere and names
// none of the updater's own files.
bool IsInsideInstallation(const CString& installDir, const CString& path);

}  // namespace archive

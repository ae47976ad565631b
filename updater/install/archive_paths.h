// Entry names and target paths of the archive component.
#pragma once

#include <vector>

#include "platform/types.h"

namespace archive {

// Cuts a stored entry name down to a relative path: drive prefixes and leading
// separators go, and so does everything up to a separator, two dots and a
// separator ("\..\", "\../", "/../", "/..\"), until none of these is left.
// The remaining separators stay as they stand.
CString SanitizeEntryName(CString name);

// True when a target name does not count from the base directory: its first
// unit is "/" or "\", or its second unit is ":".
bool IsAbsoluteName(const CString& name);

// True when a name has a ".." component between separators of either kind.
bool HasParentComponent(const CString& name);

// Splits a target name after its last "/" or "\": the directory part keeps
// that separator; with no separator the directory part is empty.
void SplitTargetName(const CString& name, CString& directoryPart, CString& filePart);

// The folders that creating `directoryPath` under `base` needs, outermost
// first: `base` itself (one level) if it is missing, then each missing folder
// of `directoryPath` under it. An empty base means the process's current
// directory.
std::vector<CString> MissingDirectoryChain(const CString& base, const CString& directoryPath);

}  // namespace archive

// Dynamic libraries: loading one by name, finding its exports, releasing it.
#pragma once

#include "platform/types.h"

namespace platform {

using HMODULE = void*;

// The file name of the library called `baseName` on this platform: the
// Windows "Docvert_u.dll" is "libDocvert_u.so" here.
CString LibraryFileName(const CString& baseName);

// Loads a library with all its symbols resolved now, so that a missing
// dependency fails here rather than at a call. A bare file name is looked for
// in the running program's folder first (a file found there is the one used),
// then by the system's search (LD_LIBRARY_PATH, the program's run path, the
// system's library folders). A name with a separator is a path and is loaded
// as it stands. Null when nothing is found or it cannot be loaded.
HMODULE LoadLibraryW(const CString& fileName);

// The address of the export `name`, or null when the library lacks it or the
// module is null.
void* GetProcAddress(HMODULE module, const char* name);

// Releases one load of the library; the module is invalid afterwards. False
// for null or when the system refuses.
bool FreeLibrary(HMODULE module);

}  // namespace platform

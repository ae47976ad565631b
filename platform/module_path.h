// The running executable's own path.
#pragma once

#include "platform/path.h"
#include "platform/types.h"

namespace platform {

// What this system's program files end in: the Windows programs are "NAME.exe".
#ifdef _WIN32
inline constexpr char16_t kProgramSuffix[] = u".exe";
#else
inline constexpr char16_t kProgramSuffix[] = u"";
#endif

// Full path of the running executable; empty when the platform cannot tell it.
Path ModulePath();

// The same as program text, the way the programs' fixed-size buffers hold it:
// at most 259 UTF-16 units, or "Error" when the platform cannot tell it.
CString GetModulePath();

}  // namespace platform

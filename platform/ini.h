// Reading values from INI files, with the rules of the Windows profile reader.
#pragma once

#include <cstddef>

#include "platform/types.h"

namespace platform {

// Reads the value of `key` in `section` of the INI file at `path`.
// The result holds at most bufferUnits - 1 UTF-16 units (the rest is cut);
// `defaultValue` is returned (cut likewise) when the file, section or key is
// missing. Never fails otherwise: unreadable or garbage files read as missing
// keys or as whatever text they hold.
CString GetPrivateProfileStringW(const CString& section, const CString& key,
                                 const CString& defaultValue, std::size_t bufferUnits,
                                 const CString& path);

}  // namespace platform

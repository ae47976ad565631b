// The running executable's own path.
#pragma once

#include "platform/types.h"

namespace platform {

// Full path of the running executable (at most 259 UTF-16 units), or "Error"
// when the platform cannot tell it.
CString GetModulePath();

}  // namespace platform

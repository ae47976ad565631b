// Conversions between wide text and narrow text in the ANSI code page (936).
#pragma once

#include <string>

#include "platform/types.h"

// Both: an empty text gives an empty result, and the result ends at its first NUL.
std::string WideToAnsi(const CString& text);
CString AnsiToWide(const std::string& text);

// Conversions between the program's wide text, narrow text in the ANSI code page
// (936) and UTF-8, for the boundaries where the database patch meets the file
// system and SQLite.
#pragma once

#include <string>

#include "platform/types.h"

// Wide text to ANSI bytes; an empty text gives an empty result. Characters the
// code page lacks become "?" (see platform/codepage.h); the result ends at the
// first NUL.
std::string CStringToAnsi(const CString& text);

// ANSI bytes to wide text; the result ends at the first NUL byte.
CString AnsiToCString(const std::string& text);

// ANSI bytes to UTF-8; the result ends at the first NUL byte.
// Throws std::runtime_error ("Error in conversion." or "La falla!") when the
// UTF-8 form cannot be sized or does not come out at the size announced; the
// code-page conversions never fail, so well-formed callers never see either.
std::string AnsiToUtf8(const std::string& text);

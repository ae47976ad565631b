// The database patch's names for the conversions between the program's wide
// text, narrow text in the ANSI code page (936) and UTF-8 (platform/codepage.h
// does the work): the script text and the error texts are ANSI.
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
// Throws std::runtime_error ("Error in conversion.") when the UTF-8 form cannot
// be held in memory; the code-page conversions themselves never fail, so a
// converted text always comes out whole (the "La falla!" of a result shorter
// than announced cannot arise from the one-pass conversion).
std::string AnsiToUtf8(const std::string& text);

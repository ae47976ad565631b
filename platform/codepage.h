// The one home of text conversion outside the windows: the ANSI code page
// (code page 936, GBK, on every platform), UTF-8 and the programs' UTF-16.
// The names the programs use at their boundaries (WideToAnsi, AnsiToWide,
// CStringToAnsi, AnsiToCString, AnsiToUtf8) are thin names over these.
//
// Behaves like the Windows conversions under CP_ACP with no flags:
//  - bytes to UTF-16: a lead byte at the end becomes "?"; a lead byte followed by
//    an invalid trail byte becomes one "?" and the trail byte is swallowed;
//    0x80 is U+20AC, 0xFF is U+F8F5, the user-defined areas map to the
//    private-use range (0xAAA1 is U+E000), and so do the remaining codes
//    without a character (0xA2AB is U+E766);
//  - UTF-16 to bytes: a character the code page lacks is written as the
//    system's best fit where it has one (U+00C0 gives the bytes of U+00E0, U+00B2
//    gives "2", a compatibility ideograph its unified form), otherwise as one "?"
//    per UTF-16 unit (U+1F600 gives "??"); U+20AC gives 0x80.
// Neither direction ever fails; NUL units and bytes are converted like others.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string AnsiToUtf16(std::string_view bytes);
std::string Utf16ToAnsi(std::u16string_view text);

// True when the bytes convert to UTF-16 and back to exactly the same bytes.
bool IsAnsiRoundTrip(std::string_view bytes);

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences become U+FFFD, unpaired surrogates
// become U+FFFD, as the Windows code page 65001 conversions do.
std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

// ANSI bytes straight to UTF-8: the same result as Utf16ToUtf8(AnsiToUtf16(bytes)),
// without the detour through UTF-16 for ASCII runs (scripts run to megabytes
// of mostly ASCII).
std::string AnsiToUtf8(std::string_view bytes);

// The part of a C-style text before its first NUL (all of it when there is none),
// for the conversions whose results end at the first NUL.
inline std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }
inline std::u16string_view UpToNul(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

}  // namespace platform

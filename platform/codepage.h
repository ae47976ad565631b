// The ANSI code page: code page 936 (GBK) on every platform.
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

}  // namespace platform

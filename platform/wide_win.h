// Internal to the Windows platform files: the programs' UTF-16 text as the
// wide strings the system calls take. wchar_t is 16 bits wide there, so the
// units are the same and only the pointer type differs.
#pragma once

#include <string>

#include <windows.h>

#include "platform/codepage.h"
#include "platform/types.h"

namespace platform::win {

inline const wchar_t* Wide(const CString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

inline std::wstring WideString(const CString& text) { return std::wstring(text.begin(), text.end()); }

inline CString FromWide(const wchar_t* text, std::size_t length)
{
    return CString(reinterpret_cast<const char16_t*>(text), length);
}

inline CString FromWide(const std::wstring& text) { return FromWide(text.data(), text.size()); }

// A program path with "/" turned into the native "\".
inline std::wstring NativeWide(const CString& path)
{
    std::wstring wide = WideString(path);
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return wide;
}

// Paths kept in narrow members (shared with other systems) are UTF-8.
inline std::string Utf8Of(const std::wstring& wide) { return Utf16ToUtf8(FromWide(wide)); }

inline std::wstring WideOf(const std::string& utf8) { return WideString(Utf8ToUtf16(utf8)); }

// Appends one argument to a command line the way the C runtime's parser reads
// it back: quoted when it holds blanks or quotes, backslashes before a quote
// doubled (process_win.cpp).
void AppendCommandLineArgument(std::wstring& line, const std::wstring& arg);

}  // namespace platform::win

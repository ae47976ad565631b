#include "platform/codepage.h"

#include <climits>

#include "platform/wide_win.h"

namespace platform {
namespace {

// The programs' ANSI code page is 936 whatever the system's own is set to.
constexpr UINT kAnsiCodePage = 936;

std::u16string ToUtf16(UINT codePage, std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > INT_MAX) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int units = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (units <= 0) {
        return {};
    }
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(out.data()), units);
    return out;
}

std::string FromUtf16(UINT codePage, std::u16string_view text)
{
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(codePage, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(codePage, 0, wide, size, out.data(), bytes, nullptr, nullptr);
    return out;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes) { return ToUtf16(kAnsiCodePage, bytes); }

std::string Utf16ToAnsi(std::u16string_view text) { return FromUtf16(kAnsiCodePage, text); }

bool IsAnsiRoundTrip(std::string_view bytes) { return Utf16ToAnsi(AnsiToUtf16(bytes)) == bytes; }

std::u16string Utf8ToUtf16(std::string_view bytes) { return ToUtf16(CP_UTF8, bytes); }

std::string Utf16ToUtf8(std::u16string_view text) { return FromUtf16(CP_UTF8, text); }

std::string AnsiToUtf8(std::string_view bytes) { return Utf16ToUtf8(AnsiToUtf16(bytes)); }

}  // namespace platform

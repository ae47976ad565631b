#include "transfer/text_convert.h"

#include "platform/codepage.h"

std::string WideToAnsi(const CString& text)
{
    if (text.empty()) {
        return {};
    }
    std::string bytes = platform::Utf16ToAnsi(text);
    // Callers hand the result on as a C string, which ends at the first NUL.
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string::npos) {
        bytes.resize(nul);
    }
    return bytes;
}

CString AnsiToWide(const std::string& text)
{
    if (text.empty()) {
        return {};
    }
    CString wide = platform::AnsiToUtf16(text);
    const std::size_t nul = wide.find(u'\0');
    if (nul != CString::npos) {
        wide.resize(nul);
    }
    return wide;
}

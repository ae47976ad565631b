#include "updater/install/ansi_text.h"

#include <cstddef>
#include <stdexcept>

#include "platform/codepage.h"
#include "transfer/text_convert.h"

namespace {

// Bytes the UTF-8 form of `text` takes, its terminator included, counted the way
// the converter encodes: an unpaired surrogate becomes U+FFFD (three bytes).
std::size_t Utf8SizeWithTerminator(const CString& text)
{
    std::size_t size = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0x80) {
            size += 1;
        } else if (unit < 0x800) {
            size += 2;
        } else if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() &&
                   text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            size += 4;
            ++i;
        } else {
            size += 3;
        }
    }
    return size;
}

}  // namespace

std::string CStringToAnsi(const CString& text)
{
    if (text.empty()) {
        return {};
    }
    return WideToAnsi(text);
}

CString AnsiToCString(const std::string& text) { return AnsiToWide(text); }

std::string AnsiToUtf8(const std::string& text)
{
    CString wide = AnsiToWide(text);
    // The size is asked for the NUL-terminated text, so nothing after a NUL counts.
    if (const std::size_t nul = wide.find(u'\0'); nul != CString::npos) {
        wide.resize(nul);
    }
    const std::size_t size = Utf8SizeWithTerminator(wide);
    if (size == 0) {
        throw std::runtime_error("Error in conversion.");
    }
    std::string converted = platform::Utf16ToUtf8(wide);
    if (converted.size() + 1 != size) {
        throw std::runtime_error("La falla!");
    }
    return converted;
}

#include "updater/install/ansi_text.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string_view>

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
    // The size is asked for the NUL-terminated text, so nothing after a NUL counts.
    // (A NUL byte is never taken as the second byte of a character.)
    const std::string_view bytes(text.data(), std::min(text.find('\0'), text.size()));

    // Scripts run to megabytes of mostly ASCII, which reads the same in both
    // encodings; only the runs of double-byte characters go through UTF-16. A run
    // ends at an ASCII byte that begins a character: a lead byte always takes the
    // byte after it, whatever that is.
    std::string converted;
    converted.reserve(bytes.size() + bytes.size() / 2);
    std::size_t size = 1;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) {
                ++i;
            }
            converted.append(bytes.substr(start, i - start));
            size += i - start;
            continue;
        }
        while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x80) {
            const auto lead = static_cast<unsigned char>(bytes[i]);
            i += (lead > 0x80 && lead < 0xFF && i + 1 < bytes.size()) ? std::size_t{2} : std::size_t{1};
        }
        const CString wide = platform::AnsiToUtf16(bytes.substr(start, i - start));
        size += Utf8SizeWithTerminator(wide) - 1;
        converted += platform::Utf16ToUtf8(wide);
    }
    if (size == 0) {
        throw std::runtime_error("Error in conversion.");
    }
    if (converted.size() + 1 != size) {
        throw std::runtime_error("La falla!");
    }
    return converted;
}

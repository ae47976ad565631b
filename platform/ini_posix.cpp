#include "platform/ini.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {
namespace {

// Blanks around names and values: tab, the other C0 white space, space, and
// 0x1A (the DOS end-of-file mark some old files carry). Wider Unicode spaces
// such as U+3000 and U+00A0 are content.
bool IsBlank(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

std::u16string_view Trim(std::u16string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameName(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::u16string_view StripQuotes(std::u16string_view value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

CString DecodeUtf16(std::string_view bytes, bool bigEndian)
{
    CString text;
    text.reserve(bytes.size() / 2);
    // An odd last byte is no character.
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        text.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0)));
    }
    return text;
}

CString DecodeFile(std::string_view bytes)
{
    if (bytes.starts_with("\xFF\xFE")) {
        return DecodeUtf16(bytes.substr(2), false);
    }
    if (bytes.starts_with("\xFE\xFF")) {
        return DecodeUtf16(bytes.substr(2), true);
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        return Utf8ToUtf16(bytes.substr(3));
    }
    return AnsiToUtf16(bytes);
}

std::optional<std::string> ReadWholeFile(const CString& path)
{
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[64 * 1024];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

// Splits at CR LF, LF or a lone CR; a missing final line break is fine.
class LineReader {
public:
    explicit LineReader(std::u16string_view text) : m_rest(text) {}
    bool Next(std::u16string_view& line)
    {
        if (m_done) {
            return false;
        }
        const std::size_t end = m_rest.find_first_of(u"\r\n");
        if (end == std::u16string_view::npos) {
            line = m_rest;
            m_done = true;
            return true;
        }
        line = m_rest.substr(0, end);
        const std::size_t breakLength =
            m_rest[end] == u'\r' && end + 1 < m_rest.size() && m_rest[end + 1] == u'\n' ? 2 : 1;
        m_rest.remove_prefix(end + breakLength);
        return true;
    }

private:
    std::u16string_view m_rest;
    bool m_done = false;
};

// The value of the first key `key` in the first section `section`; later
// sections of the same name are never consulted.
std::optional<std::u16string_view> FindValue(std::u16string_view text, std::u16string_view section,
                                             std::u16string_view key)
{
    // Lines before any section header belong to the section "".
    bool inTarget = section.empty();
    bool seenTarget = inTarget;
    LineReader lines(text);
    std::u16string_view line;
    while (lines.Next(line)) {
        line = Trim(line);
        if (line.empty()) {
            continue;
        }
        if (line.front() == u'[') {
            const std::size_t close = line.rfind(u']');
            if (close != std::u16string_view::npos) {
                if (inTarget) {
                    return std::nullopt;
                }
                const std::u16string_view name = UpToNul(Trim(line.substr(1, close - 1)));
                inTarget = !seenTarget && SameName(name, section);
                seenTarget = seenTarget || inTarget;
                continue;
            }
            // Without a closing bracket it is no header; read it as a key line.
        }
        if (!inTarget) {
            continue;
        }
        const std::size_t equals = line.find(u'=');
        if (equals == std::u16string_view::npos) {
            continue;
        }
        if (SameName(UpToNul(Trim(line.substr(0, equals))), key)) {
            return StripQuotes(UpToNul(Trim(line.substr(equals + 1))));
        }
    }
    return std::nullopt;
}

CString CutToBuffer(std::u16string_view text, std::size_t bufferUnits)
{
    if (bufferUnits == 0) {
        return {};
    }
    return CString(text.substr(0, bufferUnits - 1));
}

}  // namespace

CString GetPrivateProfileStringW(const CString& section, const CString& key,
                                 const CString& defaultValue, std::size_t bufferUnits,
                                 const CString& path)
{
    if (const std::optional<std::string> bytes = ReadWholeFile(path)) {
        const CString text = DecodeFile(*bytes);
        const std::optional<std::u16string_view> value =
            FindValue(text, UpToNul(Trim(section)), UpToNul(Trim(key)));
        if (value) {
            return CutToBuffer(*value, bufferUnits);
        }
    }
    // The reader drops trailing spaces from the default, as the original did.
    std::u16string_view fallback = UpToNul(defaultValue);
    while (!fallback.empty() && fallback.back() == u' ') {
        fallback.remove_suffix(1);
    }
    return CutToBuffer(fallback, bufferUnits);
}

}  // namespace platform

#include "tools/docvert/text_encoding.h"

#include <glib.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace docvert {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The labels browsers read as GBK, plus the Windows names of code page 936.
constexpr std::array<std::string_view, 13> kGbkLabels = {
    "gb2312",  "gbk",    "x-gbk",       "cp936",          "euc-cn",   "chinese",   "csgb2312",
    "gb_2312", "gb_2312-80", "csiso58gb231280", "iso-ir-58", "windows-936", "ms936"};

std::string Trimmed(std::string_view label)
{
    const auto isJunk = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\r' || c == '\n'; };
    while (!label.empty() && isJunk(label.front())) {
        label.remove_prefix(1);
    }
    while (!label.empty() && isJunk(label.back())) {
        label.remove_suffix(1);
    }
    return std::string(label);
}

class Converter {
public:
    explicit Converter(const std::string& from) : m_cd(iconv_open("UTF-8", from.c_str())) {}
    ~Converter()
    {
        if (valid()) {
            iconv_close(m_cd);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    std::string Run(std::string_view bytes)
    {
        std::string out;
        out.reserve(bytes.size() * 3 / 2 + 16);
        std::string input(bytes);
        char* in = input.data();
        std::size_t inLeft = input.size();
        char buffer[8192];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, sizeof buffer - outLeft);
            if (rc != static_cast<std::size_t>(-1)) {
                continue;
            }
            if (errno == E2BIG) {
                continue;
            }
            // An invalid or cut-off sequence: mark it and resynchronise on
            // the next byte, the way browsers show broken text.
            out.append(kReplacement);
            ++in;
            --inLeft;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        return out;
    }

private:
    iconv_t m_cd;
};

std::string_view StripUtf8Bom(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return text;
}

// glibc's UTF-8 decoder lets sequences beyond U+10FFFF through. Every byte
// that is no UTF-8 becomes U+FFFD, as broken input does in Converter::Run;
// NUL bytes stay as they are.
std::string RepairedUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const gchar* end = nullptr;
        g_utf8_validate_len(text.data(), text.size(), &end);
        const auto good = static_cast<std::size_t>(end - text.data());
        out.append(text.substr(0, good));
        text.remove_prefix(good);
        if (!text.empty()) {
            out.append(text.front() == '\0' ? std::string_view("\0", 1) : kReplacement);
            text.remove_prefix(1);
        }
    }
    return out;
}

}  // namespace

std::string CanonicalCharset(std::string_view label)
{
    std::string name = Trimmed(label);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(g_ascii_tolower(c)); });
    if (std::find(kGbkLabels.begin(), kGbkLabels.end(), lower) != kGbkLabels.end()) {
        return "GBK";
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(g_ascii_toupper(c)); });
    return name;
}

std::optional<std::string> ConvertToUtf8(std::string_view bytes, std::string_view charset)
{
    const std::string name = CanonicalCharset(charset);
    if (name.empty()) {
        return std::nullopt;
    }
    Converter converter(name);
    if (!converter.valid()) {
        return std::nullopt;
    }
    return RepairedUtf8(converter.Run(bytes));
}

std::string DecodeToUtf8(std::string_view bytes, const std::vector<std::string>& labels)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return ConvertToUtf8(bytes.substr(3), "UTF-8").value_or(std::string());
    }
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        return ConvertToUtf8(bytes.substr(2), "UTF-16LE").value_or(std::string());
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        return ConvertToUtf8(bytes.substr(2), "UTF-16BE").value_or(std::string());
    }
    for (const std::string& label : labels) {
        if (std::optional<std::string> text = ConvertToUtf8(bytes, label)) {
            return std::string(StripUtf8Bom(*text));
        }
    }
    if (g_utf8_validate_len(bytes.data(), bytes.size(), nullptr)) {
        return std::string(bytes);
    }
    return ConvertToUtf8(bytes, "GBK").value_or(std::string());
}

}  // namespace docvert

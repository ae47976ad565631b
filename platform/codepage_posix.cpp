#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>

namespace platform {
namespace {

#include "platform/codepage_bestfit.inc"

constexpr char16_t kDefaultChar = u'?';
constexpr char16_t kReplacementChar = 0xFFFD;

// Single bytes that the system code page gives a character of its own, where
// glibc's table has none or differs.
constexpr unsigned char kEuroByte = 0x80;
constexpr char16_t kEuroSign = 0x20AC;
constexpr unsigned char kLastByte = 0xFF;
constexpr char16_t kLastByteChar = 0xF8F5;

bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// The user-defined areas, laid out one after the other in the private-use range
// starting at U+E000, each row by row in code order.
struct UserArea {
    unsigned char firstLead, lastLead, firstTrail, lastTrail;
};
constexpr std::array<UserArea, 3> kUserAreas{{
    {0xAA, 0xAF, 0xA1, 0xFE},  // 6 rows of 94: U+E000..U+E233
    {0xF8, 0xFE, 0xA1, 0xFE},  // 7 rows of 94: U+E234..U+E4C5
    {0xA1, 0xA7, 0x40, 0xA0},  // 7 rows of 96 (no 0x7F): U+E4C6..U+E765
}};
constexpr char16_t kUserAreaBase = 0xE000;

// Both directions as flat tables, built once from glibc's table and corrected
// where the system code page differs. 0 in either table means "no mapping";
// no double-byte code maps to U+0000 and U+0000 is never looked up.
struct Tables {
    std::array<char16_t, 0x10000> decode{};   // lead << 8 | trail -> UTF-16 unit
    std::array<std::uint16_t, 0x10000> encode{};  // UTF-16 unit -> byte or lead << 8 | trail

    void Map(std::uint16_t code, char16_t unit)
    {
        decode[code] = unit;
        if (encode[unit] == 0) {
            encode[unit] = code;
        }
    }
};

void LoadGlibcDoubleBytes(Tables& tables)
{
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        cd = iconv_open("UTF-16LE", "GBK");
    }
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return;  // only ASCII and the corrections below will map
    }
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (!IsTrailByte(static_cast<unsigned char>(trail))) {
                continue;
            }
            char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            unsigned char out[8] = {};
            char* inPtr = in;
            char* outPtr = reinterpret_cast<char*>(out);
            std::size_t inLeft = sizeof in;
            std::size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
            // Exactly one BMP character, or the code stays unmapped.
            if (rc == static_cast<std::size_t>(-1) || inLeft != 0 || sizeof out - outLeft != 2) {
                continue;
            }
            const auto unit = static_cast<char16_t>(out[0] | (out[1] << 8));
            tables.Map(static_cast<std::uint16_t>(lead << 8 | trail), unit);
        }
    }
    iconv_close(cd);
}

std::unique_ptr<Tables> BuildTables()
{
    auto tables = std::make_unique<Tables>();
    LoadGlibcDoubleBytes(*tables);
    for (unsigned b = 1; b < 0x80; ++b) {
        tables->encode[b] = static_cast<std::uint16_t>(b);
    }
    tables->encode[kEuroSign] = kEuroByte;
    tables->encode[kLastByteChar] = kLastByte;

    char16_t pua = kUserAreaBase;
    for (const UserArea& area : kUserAreas) {
        for (unsigned lead = area.firstLead; lead <= area.lastLead; ++lead) {
            for (unsigned trail = area.firstTrail; trail <= area.lastTrail; ++trail) {
                if (!IsTrailByte(static_cast<unsigned char>(trail))) {
                    continue;
                }
                tables->Map(static_cast<std::uint16_t>(lead << 8 | trail), pua++);
            }
        }
    }
    // Every other double-byte code that names no character continues the
    // private-use range in code order (0xA2AB is U+E766), as the system's
    // table does: such bytes survive a round trip through UTF-16.
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
            if (IsTrailByte(static_cast<unsigned char>(trail)) && tables->decode[code] == 0) {
                tables->Map(code, pua++);
            }
        }
    }
    for (const auto& [unit, code] : kBestFit) {
        if (tables->encode[unit] == 0) {
            tables->encode[unit] = code;
        }
    }
    return tables;
}

const Tables& GetTables()
{
    static const std::unique_ptr<Tables> tables = BuildTables();
    return *tables;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes)
{
    const Tables& tables = GetTables();
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(b);
        } else if (b == kEuroByte) {
            out.push_back(kEuroSign);
        } else if (b == kLastByte) {
            out.push_back(kLastByteChar);
        } else if (i + 1 < bytes.size() && bytes[i + 1] != '\0') {
            // Whatever follows a lead byte belongs to it, valid trail or not.
            const auto trail = static_cast<unsigned char>(bytes[++i]);
            const char16_t unit = tables.decode[static_cast<std::size_t>(b << 8 | trail)];
            out.push_back(unit != 0 ? unit : kDefaultChar);
        } else {
            // A lead byte at the end, or before a NUL that must survive as the
            // terminator it is.
            out.push_back(kDefaultChar);
        }
    }
    return out;
}

std::string Utf16ToAnsi(std::u16string_view text)
{
    const Tables& tables = GetTables();
    std::string out;
    out.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        if (unit == 0) {
            out.push_back('\0');
            continue;
        }
        const std::uint16_t code = tables.encode[unit];
        if (code == 0) {
            out.push_back(static_cast<char>(kDefaultChar));
        } else if (code < 0x100) {
            out.push_back(static_cast<char>(code));
        } else {
            out.push_back(static_cast<char>(code >> 8));
            out.push_back(static_cast<char>(code & 0xFF));
        }
    }
    return out;
}

bool IsAnsiRoundTrip(std::string_view bytes)
{
    return Utf16ToAnsi(AnsiToUtf16(bytes)) == bytes;
}

std::u16string Utf8ToUtf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = at(i);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        // Length and the allowed range of the second byte, which excludes
        // overlong forms, surrogates and values above U+10FFFF.
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        char32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0Fu;
            lo = b == 0xE0 ? 0xA0 : 0x80;
            hi = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07u;
            lo = b == 0xF0 ? 0x90 : 0x80;
            hi = b == 0xF4 ? 0x8F : 0xBF;
        }
        if (len == 0) {
            out.push_back(kReplacementChar);
            ++i;
            continue;
        }
        // One U+FFFD replaces the longest valid beginning of a sequence.
        std::size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            const unsigned char c = at(i + k);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
                break;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (k < len) {
            out.push_back(kReplacementChar);
            i += k;
            continue;
        }
        i += len;
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    auto put = [&](unsigned v) { out.push_back(static_cast<char>(v)); };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacementChar;
        }
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string AnsiToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) {
                ++i;
            }
            out.append(bytes.substr(start, i - start));
            continue;
        }
        // A run of double-byte characters ends at an ASCII byte that begins a
        // character: a lead byte always takes the byte after it, whatever it is.
        while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0x80) {
            const auto lead = static_cast<unsigned char>(bytes[i]);
            i += (lead != kEuroByte && lead != kLastByte && i + 1 < bytes.size()) ? std::size_t{2} : std::size_t{1};
        }
        out += Utf16ToUtf8(AnsiToUtf16(bytes.substr(start, i - start)));
    }
    return out;
}

}  // namespace platform

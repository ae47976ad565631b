// The INI reader over arbitrary file contents: manifests come from a server.
//
// Invariants: a value never holds more than bufferUnits - 1 units (19 for the
// manifest's buffers); a value comes from one line, so it holds no line break;
// names match without regard to ASCII case; a shorter buffer gives a prefix of
// a longer one's result; a missing key gives the caller's default.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "platform/codepage.h"
#include "platform/ini.h"

namespace {

struct Lookup {
    CString section;
    CString key;
};

CString UpperAscii(CString text)
{
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 32);
        }
    }
    return text;
}

// Names taken from the file itself, so that lookups hit more than the fixed
// manifest keys: the first bracketed name and the first "name=" of the input.
std::vector<Lookup> LookupsFor(std::string_view bytes)
{
    std::vector<Lookup> lookups = {{u"version", u"ver"}, {u"version", u"name"}, {u"ftp", u"ip"},
                                   {u"ftp", u"password"}, {u"", u""}};
    const std::size_t open = bytes.find('[');
    const std::size_t close = open == std::string_view::npos ? open : bytes.find(']', open);
    const std::size_t equals = bytes.find('=', close == std::string_view::npos ? 0 : close);
    if (close != std::string_view::npos && equals != std::string_view::npos) {
        const std::size_t lineStart = bytes.find_last_of("\r\n", equals);
        const std::size_t keyStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
        if (keyStart <= equals) {
            lookups.push_back({platform::AnsiToUtf16(bytes.substr(open + 1, close - open - 1)),
                               platform::AnsiToUtf16(bytes.substr(keyStart, equals - keyStart))});
        }
    }
    return lookups;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path file = fuzz::ScratchFolder() / "fuzz.ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        FUZZ_CHECK(out.good(), "the scratch file can be written");
    }
    const CString path = platform::Utf8ToUtf16(file.string());

    for (const Lookup& lookup : LookupsFor(bytes)) {
        const CString value = platform::GetPrivateProfileStringW(lookup.section, lookup.key, u"", 20, path);
        FUZZ_CHECK(value.size() <= 19, "a 20-unit buffer keeps at most 19 units, got " + fuzz::Show(value));
        FUZZ_CHECK(value.find(u'\0') == CString::npos, "a value ends at its first NUL");
        FUZZ_CHECK(value.find_first_of(u"\r\n") == CString::npos,
                   "a value never spans lines: " + fuzz::Show(value));

        const CString wide = platform::GetPrivateProfileStringW(lookup.section, lookup.key, u"", 4096, path);
        FUZZ_CHECK(wide.size() <= 4095, "a 4096-unit buffer keeps at most 4095 units");
        FUZZ_CHECK(wide.compare(0, value.size(), value) == 0,
                   "a 20-unit read is a prefix of a longer one: " + fuzz::Show(value) + " vs " + fuzz::Show(wide));
        FUZZ_CHECK(value.size() == std::min<std::size_t>(wide.size(), 19),
                   "a 20-unit read is cut only at 19 units");

        const CString upper =
            platform::GetPrivateProfileStringW(UpperAscii(lookup.section), UpperAscii(lookup.key), u"", 20, path);
        FUZZ_CHECK(upper == value, "names match without regard to ASCII case: " + fuzz::Show(upper) + " vs " +
                                       fuzz::Show(value));

        // Two different defaults: whenever the results differ, the key was
        // missing and each result is its own default.
        const CString a = platform::GetPrivateProfileStringW(lookup.section, lookup.key, u"<a>", 20, path);
        const CString b = platform::GetPrivateProfileStringW(lookup.section, lookup.key, u"<b>", 20, path);
        if (a != b) {
            FUZZ_CHECK(a == u"<a>" && b == u"<b>", "a missing key reads as the caller's default");
            FUZZ_CHECK(value.empty(), "a missing key reads as an empty default");
        }

        const CString none = platform::GetPrivateProfileStringW(lookup.section, lookup.key, u"", 0, path);
        FUZZ_CHECK(none.empty(), "a zero-unit buffer holds nothing");
    }
    return 0;
}

// The version comparison over arbitrary manifest texts.
//
// Invariants: equal texts are current; of two versions at least one is
// current from the other's side, and an update is never due both ways;
// "update due" is transitive; and every result agrees with the documented
// rule, computed here independently with the C library's strtol: four numbers
// split at ".", missing ones 0, later ones ignored, each read as a decimal
// integer held to the 32-bit range, the first position that differs deciding.
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/codepage.h"
#include "updater/workflow/manifest.h"

namespace {

long long Component(std::u16string_view text)
{
    // strtol sees only ASCII; anything else (NUL included) stops it like any
    // other non-digit does.
    std::string narrow;
    for (char16_t c : text) {
        narrow.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : 'x');
    }
    const long long value = std::strtoll(narrow.c_str(), nullptr, 10);
    return std::clamp<long long>(value, INT32_MIN, INT32_MAX);
}

std::array<long long, 4> Numbers(std::u16string_view text)
{
    std::array<long long, 4> numbers{};
    for (long long& number : numbers) {
        const std::size_t dot = text.find(u'.');
        number = Component(text.substr(0, dot));
        if (dot == std::u16string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return numbers;
}

bool ExpectedCurrent(const CString& installed, const CString& offered)
{
    return installed == offered || Numbers(installed) >= Numbers(offered);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Up to three versions, one per line, decoded as a manifest's text is.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<CString> versions;
    while (versions.size() < 3) {
        const std::size_t end = input.find('\n');
        versions.push_back(platform::AnsiToUtf16(input.substr(0, end)));
        if (end == std::string_view::npos) {
            break;
        }
        input.remove_prefix(end + 1);
    }
    while (versions.size() < 3) {
        versions.push_back(versions.back() + u".1");
    }
    const CString& a = versions[0];
    const CString& b = versions[1];
    const CString& c = versions[2];

    FUZZ_CHECK(CompareVersions(a, a), "a version is current against itself: " + fuzz::Show(a));
    const bool ab = CompareVersions(a, b);
    const bool ba = CompareVersions(b, a);
    FUZZ_CHECK(ab || ba, "an update is never due both ways: " + fuzz::Show(a) + " / " + fuzz::Show(b));
    FUZZ_CHECK(ab == ExpectedCurrent(a, b),
               "installed " + fuzz::Show(a) + " against offered " + fuzz::Show(b) + " gives " +
                   (ExpectedCurrent(a, b) ? "current" : "update due"));
    if (!ab && !CompareVersions(b, c)) {
        FUZZ_CHECK(!CompareVersions(a, c), "update due is transitive: " + fuzz::Show(a) + " < " + fuzz::Show(b) +
                                               " < " + fuzz::Show(c));
    }
    return 0;
}

// The MHT converter of the conversion library over arbitrary bytes: the
// viewer converts whatever file the server handed it.
//
// Invariants: a converted page is valid UTF-8 and declares utf-8; the
// conversion is a function of its input (the same page twice); the page stays
// within the converter's embedding bound, whatever its parts refer to.
#include <glib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "tools/docvert/mht_converter.h"

namespace {

// GLib's check refuses NUL, which is a character like any other here: the
// archive's own text may hold one.
bool IsUtf8(std::string text)
{
    std::replace(text.begin(), text.end(), '\0', ' ');
    return g_utf8_validate_len(text.data(), text.size(), nullptr);
}

bool DeclaresUtf8(std::string page)
{
    std::transform(page.begin(), page.end(), page.begin(),
                   [](char c) { return static_cast<char>(g_ascii_tolower(c)); });
    return page.find("utf-8") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> page = docvert::ConvertMhtToHtml(bytes);
    if (!page) {
        return 0;
    }
    FUZZ_CHECK(IsUtf8(*page), "the page is valid UTF-8");
    FUZZ_CHECK(DeclaresUtf8(*page), "the page declares utf-8");
    // What may be embedded is bounded (32 MiB and four bytes per archive
    // byte); the page's own text widens at most threefold in the charset
    // conversion. Beyond that, parts were embedded inside parts over and over.
    const std::size_t bound = 32u * 1024 * 1024 + 8 * size + 64 * 1024;
    FUZZ_CHECK(page->size() <= bound, "the page stays within the embedding bound (" + std::to_string(page->size()) +
                                          " bytes from " + std::to_string(size) + ")");
    const std::optional<std::string> again = docvert::ConvertMhtToHtml(bytes);
    FUZZ_CHECK(again && *again == *page, "the same archive gives the same page");
    return 0;
}

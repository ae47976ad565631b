// What every fuzz target uses to report a broken invariant: the message and
// the failed condition on standard error, then abort(), which libFuzzer turns
// into a saved crash input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition, message)                                                  \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  expected: %s\n",     \
                         __FILE__, __LINE__, #condition, std::string(message).c_str()); \
            std::abort();                                                               \
        }                                                                               \
    } while (false)

namespace fuzz {

// Printable form of UTF-16 text for messages (non-ASCII as \uXXXX).
inline std::string Show(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

}  // namespace fuzz

#include "transfer/descramble.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "platform/codepage.h"

namespace {

// The longest value the 1024-byte working buffers hold with their terminator.
constexpr std::size_t kMaxValueBytes = SCRAMBLE_BUFFER_BYTES - 1;

unsigned char DescrambleByte(unsigned char b, std::size_t i)
{
    switch (i % 3) {
    case 0: return static_cast<unsigned char>(b - 2);
    case 1: return static_cast<unsigned char>(b - 1);
    default: return static_cast<unsigned char>(b ^ 2);
    }
}

unsigned char ScrambleByte(unsigned char b, std::size_t i)
{
    switch (i % 3) {
    case 0: return static_cast<unsigned char>(b + 2);
    case 1: return static_cast<unsigned char>(b + 1);
    default: return static_cast<unsigned char>(b ^ 2);
    }
}

std::size_t LengthUpTo(const char16_t* text)
{
    return std::char_traits<char16_t>::length(text);
}

bool IsIniBlank(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

// True when an INI reader hands the text back exactly as written after "key=".
bool ReadsBackFromIniLine(std::u16string_view stored)
{
    if (stored.empty()) {
        return true;
    }
    if (stored.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos) {
        return false;
    }
    if (IsIniBlank(stored.front()) || IsIniBlank(stored.back())) {
        return false;
    }
    const bool quoted = stored.size() >= 2 && (stored.front() == u'"' || stored.front() == u'\'') &&
                        stored.back() == stored.front();
    return !quoted;
}

}  // namespace

void ReverseString(char* text)
{
    if (text == nullptr) {
        return;
    }
    std::reverse(text, text + std::strlen(text));
}

bool DescrambleAnsi(const char* scrambled, char* output)
{
    if (scrambled == nullptr || output == nullptr) {
        return false;
    }
    // A cut value would descramble to the wrong text (the cut end is the
    // plain value's start), so a value that does not fit is refused whole.
    const std::size_t length = ::strnlen(scrambled, kMaxValueBytes + 1);
    if (length > kMaxValueBytes) {
        return false;
    }
    std::array<char, SCRAMBLE_BUFFER_BYTES> work{};
    std::memcpy(work.data(), scrambled, length);
    ReverseString(work.data());
    for (std::size_t i = 0; i < length; ++i) {
        output[i] = static_cast<char>(DescrambleByte(static_cast<unsigned char>(work[i]), i));
    }
    output[length] = '\0';
    return true;
}

bool DescrambleField(const char16_t* stored, char16_t* output, std::size_t outputUnits)
{
    if (stored == nullptr || output == nullptr) {
        return false;
    }
    const std::string bytes = platform::Utf16ToAnsi(std::u16string_view(stored, LengthUpTo(stored)));
    if (bytes.size() > kMaxValueBytes) {
        return false;
    }
    std::array<char, SCRAMBLE_BUFFER_BYTES> scrambled{};
    std::array<char, SCRAMBLE_BUFFER_BYTES> plain{};
    std::memcpy(scrambled.data(), bytes.data(), bytes.size());
    if (!DescrambleAnsi(scrambled.data(), plain.data())) {
        return false;
    }
    const CString text = platform::AnsiToUtf16(std::string_view(plain.data()));
    // The output keeps room for the terminator the caller's zero fill gives it.
    if (outputUnits == 0 || text.size() > outputUnits - 1) {
        return false;
    }
    std::copy(text.begin(), text.end(), output);
    return true;
}

bool DescrambleField(const char16_t* stored, char16_t* output)
{
    if (stored == nullptr) {
        return false;
    }
    return DescrambleField(stored, output, LengthUpTo(stored) + 1);
}

CString ScrambleField(const CString& plain)
{
    std::string bytes = platform::Utf16ToAnsi(plain);
    bytes.resize(std::strlen(bytes.c_str()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(ScrambleByte(static_cast<unsigned char>(bytes[i]), i));
    }
    std::reverse(bytes.begin(), bytes.end());
    return platform::AnsiToUtf16(bytes);
}

bool ScrambledValueSurvivesManifest(const CString& plain)
{
    const std::string plainBytes = platform::Utf16ToAnsi(plain);
    if (plainBytes.find('\0') != std::string::npos || plainBytes.size() > kMaxValueBytes ||
        platform::AnsiToUtf16(plainBytes) != plain) {
        return false;
    }
    const CString stored = ScrambleField(plain);
    if (!platform::IsAnsiRoundTrip(platform::Utf16ToAnsi(stored)) || !ReadsBackFromIniLine(stored)) {
        return false;
    }
    // Whatever the checks above missed, the real read-back decides.
    std::array<char16_t, SCRAMBLE_BUFFER_BYTES> readBack{};
    return DescrambleField(stored.c_str(), readBack.data(), readBack.size()) &&
           CString(readBack.data()) == plain;
}

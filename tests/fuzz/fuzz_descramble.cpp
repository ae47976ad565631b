// Descrambling of manifest values, over arbitrary stored and plain values.
//
// Invariants: on bytes, scrambling (the documented rule, written out here
// independently) and descrambling undo each other; no output buffer is ever
// written past its stated size, and a refused value writes nothing; a plain
// value that the publishing check accepts comes back unchanged through a real
// manifest file and the INI reader.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "platform/codepage.h"
#include "platform/ini.h"
#include "transfer/descramble.h"

namespace {

// w_i = p_i + 2, p_i + 1, p_i ^ 2 by i mod 3; the stored form is w reversed.
std::string ScrambleBytes(std::string_view plain)
{
    std::string w(plain);
    for (std::size_t i = 0; i < w.size(); ++i) {
        const auto b = static_cast<unsigned char>(w[i]);
        w[i] = static_cast<char>(i % 3 == 0 ? b + 2 : i % 3 == 1 ? b + 1 : b ^ 2);
    }
    std::reverse(w.begin(), w.end());
    return w;
}

void CheckBytes(std::string_view input)
{
    const std::string text(input.substr(0, input.find('\0')));

    // Descrambling any stored bytes, into a buffer of exactly the promised size.
    std::vector<char> output(text.size() + 1, '\x55');
    const bool ok = DescrambleAnsi(text.c_str(), output.data());
    FUZZ_CHECK(ok == (text.size() <= SCRAMBLE_BUFFER_BYTES - 1), "values up to 1023 bytes are accepted, longer refused");
    if (ok) {
        FUZZ_CHECK(output[text.size()] == '\0', "the output is terminated after the input's length");
        const std::string plain(output.data(), text.size());
        if (plain.find('\0') == std::string::npos) {
            FUZZ_CHECK(ScrambleBytes(plain) == text, "scrambling the descrambled bytes gives the stored bytes");
        }
    } else {
        FUZZ_CHECK(std::all_of(output.begin(), output.end(), [](char c) { return c == '\x55'; }),
                   "a refused value writes nothing");
    }

    // Scrambling the input as a plain value and descrambling it back.
    const std::string plain = text.substr(0, SCRAMBLE_BUFFER_BYTES - 1);
    const std::string stored = ScrambleBytes(plain);
    if (stored.find('\0') == std::string::npos) {
        std::vector<char> back(stored.size() + 1, '\x55');
        FUZZ_CHECK(DescrambleAnsi(stored.c_str(), back.data()), "a scrambled value of up to 1023 bytes descrambles");
        FUZZ_CHECK(std::string(back.data()) == plain, "descramble(scramble(x)) == x on bytes");
    }

    std::string twice = text;
    ReverseString(twice.data());
    ReverseString(twice.data());
    FUZZ_CHECK(twice == text, "reversing twice gives the text back");
}

void CheckField(std::string_view input)
{
    if (input.empty()) {
        return;
    }
    const std::size_t outputUnits = static_cast<unsigned char>(input[0]) + 1;
    std::u16string stored;
    for (std::size_t i = 1; i + 1 < input.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(input[i]) |
                                                static_cast<unsigned char>(input[i + 1]) << 8);
        if (unit == 0) {
            break;
        }
        stored.push_back(unit);
    }

    // Exactly outputUnits units on the heap, so that the sanitizer sees any
    // write past them; two fill patterns tell written units from untouched.
    std::vector<char16_t> first(outputUnits, u'\xAAAA');
    std::vector<char16_t> second(outputUnits, u'\x5555');
    const bool ok = DescrambleField(stored.c_str(), first.data(), outputUnits);
    FUZZ_CHECK(DescrambleField(stored.c_str(), second.data(), outputUnits) == ok, "descrambling is deterministic");
    std::size_t written = 0;
    while (written < outputUnits && !(first[written] == u'\xAAAA' && second[written] == u'\x5555')) {
        ++written;
    }
    if (!ok) {
        FUZZ_CHECK(written == 0, "a refused value writes nothing");
        return;
    }
    FUZZ_CHECK(written < outputUnits, "the last unit of the output stays free for the terminator");

    // The form without a size trusts the caller's "input length plus one".
    std::vector<char16_t> exact(stored.size() + 1, u'\0');
    if (DescrambleField(stored.c_str(), exact.data())) {
        FUZZ_CHECK(exact.back() == u'\0', "the unit after the input's length stays free");
    }

    std::vector<char16_t> roomy(SCRAMBLE_BUFFER_BYTES * 2 + 1, u'\0');
    FUZZ_CHECK(DescrambleField(stored.c_str(), roomy.data(), roomy.size()), "a roomy buffer takes what a small one took");
    FUZZ_CHECK(std::u16string(roomy.data()) == std::u16string(first.data(), written),
               "the buffer's size changes whether a value fits, never what it reads as");
}

// A plain value the publishing tool would accept, through a real manifest.
void CheckManifestTrip(std::string_view input)
{
    const std::u16string plain = platform::AnsiToUtf16(input.substr(0, 300));
    if (!ScrambledValueSurvivesManifest(plain)) {
        return;
    }
    const std::filesystem::path file = fuzz::ScratchFolder() / "version.ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "[ftp]\r\nip=" << platform::Utf16ToAnsi(ScrambleField(plain)) << "\r\n";
    }
    const CString read = platform::GetPrivateProfileStringW(u"ftp", u"ip", u"", 4096,
                                                            platform::Utf8ToUtf16(file.string()));
    std::vector<char16_t> back(SCRAMBLE_BUFFER_BYTES * 2 + 1, u'\0');
    FUZZ_CHECK(DescrambleField(read.c_str(), back.data(), back.size()), "an accepted value descrambles");
    FUZZ_CHECK(std::u16string(back.data()) == plain,
               "an accepted value survives a manifest: " + fuzz::Show(plain) + " came back as " +
                   fuzz::Show(back.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckBytes(input);
    CheckField(input);
    CheckManifestTrip(input);
    return 0;
}

// Answers the platform comparison's questions with the Windows platform layer,
// which hands them to the system: INI queries through its profile reader and
// code page 936 conversions both ways. Run under Wine by the Linux side.
//   platform_oracle ini QUERIES ANSWERS
//   platform_oracle cp936 ANSWERS
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "wine/compare/comparison_cases.h"

namespace {

int AnswerIni(const char* queries, const char* answers)
{
    std::ifstream in(queries, std::ios::binary);
    std::ofstream out(answers, std::ios::binary);
    if (!in || !out) {
        std::fprintf(stderr, "platform_oracle: cannot open %s or %s\n", queries, answers);
        return 2;
    }
    std::string line;
    comparison::IniQuery q;
    while (std::getline(in, line)) {
        if (!comparison::ParseQueryLine(line, q)) {
            std::fprintf(stderr, "platform_oracle: bad query line\n");
            return 2;
        }
        const CString value = platform::GetPrivateProfileStringW(
            platform::Utf8ToUtf16(q.section), platform::Utf8ToUtf16(q.key), platform::Utf8ToUtf16(q.defaultValue),
            q.bufferUnits, platform::Utf8ToUtf16(q.path));
        out << comparison::Hex(value) << '\n';
    }
    return out.good() ? 0 : 2;
}

int AnswerCodePage(const char* answers)
{
    std::ofstream out(answers, std::ios::binary);
    if (!out) {
        std::fprintf(stderr, "platform_oracle: cannot open %s\n", answers);
        return 2;
    }
    for (const std::string& bytes : comparison::AnsiInputs()) {
        out << comparison::Hex(platform::AnsiToUtf16(bytes)) << '\n';
    }
    for (const std::u16string& text : comparison::Utf16Inputs()) {
        out << comparison::Hex(platform::Utf16ToAnsi(text)) << '\n';
    }
    return out.good() ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "ini" && argc == 4) {
        return AnswerIni(argv[2], argv[3]);
    }
    if (mode == "cp936" && argc == 3) {
        return AnswerCodePage(argv[2]);
    }
    std::fprintf(stderr, "usage: platform_oracle ini QUERIES ANSWERS | cp936 ANSWERS\n");
    return 2;
}

// The POSIX platform layer against the system it stands in for: the same INI
// queries and code page 936 conversions are answered here and, under Wine, by
// the Windows layer (which hands them to the system's own functions). Every
// difference fails the test unless it is a listed Wine quirk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "wine/compare/comparison_cases.h"
#include "wine/wine_path.h"
#include "wine/wine_run.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool RunOracle(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {MORVEX_WINE_RUN, MORVEX_WINE_ORACLE};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunAndWait(argv) == 0;
}

// Bytes shown with escapes, so that a difference can be read in the log.
std::string Printable(const std::string& bytes)
{
    std::string out;
    char hex[8];
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b < 0x20 || b >= 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

// ---- INI files as a manifest may come: the updater's names in every case,
// blanks, quotes, long values, Chinese text, noise lines and three encodings.

class IniFileMaker {
public:
    explicit IniFileMaker(unsigned seed) : m_random(seed) {}

    std::string Make()
    {
        const char* const breaks[] = {"\r\n", "\n", "\r"};
        const std::string lineBreak = breaks[Pick(3)];
        std::u16string text;
        const std::size_t lines = 1 + Pick(14);
        for (std::size_t i = 0; i < lines; ++i) {
            text += Line();
            if (i + 1 < lines || Pick(4) != 0) {
                text += platform::Utf8ToUtf16(lineBreak);
            }
        }
        switch (Pick(10)) {
        case 0:
            return "\xEF\xBB\xBF" + platform::Utf16ToUtf8(text);
        case 1: {
            std::string bytes = "\xFF\xFE";
            for (const char16_t unit : text) {
                bytes += static_cast<char>(unit & 0xFF);
                bytes += static_cast<char>(unit >> 8);
            }
            return bytes;
        }
        default:
            return platform::Utf16ToAnsi(text);
        }
    }

private:
    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random); }

    template <std::size_t N>
    std::u16string OneOf(const char16_t* const (&choices)[N])
    {
        return choices[Pick(N)];
    }

    std::u16string Blank()
    {
        const char16_t* const blanks[] = {u"", u"", u"", u" ", u"\t", u"  ", u" \t "};
        return OneOf(blanks);
    }

    std::u16string SectionName()
    {
        const char16_t* const names[] = {u"version", u"ftp", u"Version", u"FTP", u"vErSiOn", u"Ftp",
                                         u"other",   u"",    u"version2", u"版本"};
        return OneOf(names);
    }

    std::u16string KeyName()
    {
        const char16_t* const names[] = {u"ver",  u"name",     u"ip",  u"username", u"password", u"VER",
                                         u"Name", u"USERNAME", u"url", u"size",     u"ver2",     u"密码"};
        return OneOf(names);
    }

    std::u16string Value()
    {
        const char16_t* const pieces[] = {u"1", u".", u"0", u"12", u"zt_e", u"qb", u"zt_p", u"a", u"Z",
                                          u" ", u"\t", u"中", u"文", u"升级", u"\"", u"'", u"=", u";",
                                          u"[", u"]", u"€", u"😀", u"\u3000", u"x_y", u"127.0.0.1"};
        std::u16string value;
        const std::size_t count = Pick(12);
        for (std::size_t i = 0; i < count; ++i) {
            value += OneOf(pieces);
        }
        switch (Pick(6)) {
        case 0:
            return u"\"" + value + u"\"";
        case 1:
            return u"'" + value + u"'";
        case 2:
            return value + std::u16string(Pick(25), u'x');  // past the 19 units kept
        default:
            return value;
        }
    }

    std::u16string Line()
    {
        switch (Pick(12)) {
        case 0:
        case 1:
        case 2:
            return Blank() + u"[" + Blank() + SectionName() + Blank() + u"]" + (Pick(5) == 0 ? u" junk" : u"");
        case 3:
            return u";" + KeyName() + u"=commented";
        case 4:
            return Blank();
        case 5:
            return u"[" + SectionName();  // no closing bracket
        case 6:
            return KeyName() + u" without equals";
        default:
            return Blank() + KeyName() + Blank() + u"=" + Blank() + Value() + Blank();
        }
    }

    std::mt19937 m_random;
};

struct IniCase {
    std::string file;  // bytes as stored
    comparison::IniQuery query;
    fs::path localPath;
};

std::string Hex(const CString& text) { return comparison::Hex(text); }

TEST(WineComparison, ProfileReaderAnswersTheUpdatersQueriesAlike)
{
    constexpr int kFiles = 600;
    TempDir dir;
    OpenToWine(dir.path());

    // The updater's queries: four values from the installed manifest, the
    // version from the fetched one, always 20 units and an empty default.
    const std::pair<const char*, const char*> updaterQueries[] = {
        {"version", "ver"}, {"version", "name"}, {"ftp", "ip"}, {"ftp", "username"}, {"ftp", "password"}};

    IniFileMaker maker(20240611);
    std::vector<IniCase> cases;
    for (int i = 0; i < kFiles; ++i) {
        const fs::path path = dir.path() / ("manifest" + std::to_string(i) + ".ini");
        const std::string bytes = maker.Make();
        testsupport::WriteFileBytes(path, bytes);
        for (const auto& [section, key] : updaterQueries) {
            cases.push_back({bytes, {WinePath(path), section, key, "", 20}, path});
        }
        // A few other shapes of the same call: a default (whose trailing
        // blanks go), short buffers.
        if (i % 10 == 0) {
            cases.push_back({bytes, {WinePath(path), "version", "ver", "dflt  ", 20}, path});
            cases.push_back({bytes, {WinePath(path), "ftp", "ip", "", static_cast<unsigned>(1 + i / 10 % 4)}, path});
        }
    }
    const fs::path missing = dir.path() / "absent.ini";
    cases.push_back({"", {WinePath(missing), "version", "ver", "", 20}, missing});
    cases.push_back({"", {WinePath(missing), "version", "ver", "fallback value longer than twenty", 20}, missing});

    {
        std::ofstream queries(dir.path() / "queries.txt", std::ios::binary);
        for (const IniCase& c : cases) {
            queries << comparison::QueryLine(c.query) << '\n';
        }
    }
    ASSERT_TRUE(RunOracle({"ini", WinePath(dir.path() / "queries.txt"), WinePath(dir.path() / "answers.txt")}));
    const std::vector<std::string> answers = ReadLines(dir.path() / "answers.txt");
    ASSERT_EQ(answers.size(), cases.size());

    int differences = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const IniCase& c = cases[i];
        const CString ours = platform::GetPrivateProfileStringW(
            platform::Utf8ToUtf16(c.query.section), platform::Utf8ToUtf16(c.query.key),
            platform::Utf8ToUtf16(c.query.defaultValue), c.query.bufferUnits,
            testsupport::U16(c.localPath.string()));
        if (Hex(ours) != answers[i]) {
            ++differences;
            ADD_FAILURE() << "[" << c.query.section << "] " << c.query.key << " (buffer " << c.query.bufferUnits
                          << ", default \"" << c.query.defaultValue << "\") in " << Printable(c.file)
                          << "\n  ours:    " << Hex(ours) << "\n  Windows: " << answers[i];
        }
    }
    EXPECT_EQ(differences, 0) << "of " << cases.size() << " queries on " << kFiles << " files";
}

constexpr int kListed = 50;

TEST(WineComparison, CodePage936ConvertsAlikeBothWays)
{
    TempDir dir;
    OpenToWine(dir.path());
    ASSERT_TRUE(RunOracle({"cp936", WinePath(dir.path() / "answers.txt")}));
    const std::vector<std::string> answers = ReadLines(dir.path() / "answers.txt");
    const std::vector<std::string> bytesIn = comparison::AnsiInputs();
    const std::vector<std::u16string> textIn = comparison::Utf16Inputs();
    ASSERT_EQ(answers.size(), bytesIn.size() + textIn.size());

    int differences = 0;
    for (std::size_t i = 0; i < bytesIn.size(); ++i) {
        const std::string ours = comparison::Hex(platform::AnsiToUtf16(bytesIn[i]));
        if (ours != answers[i] && ++differences <= kListed) {
            ADD_FAILURE() << "bytes " << comparison::Hex(bytesIn[i]) << " -> ours " << ours << ", Windows "
                          << answers[i];
        }
    }
    for (std::size_t i = 0; i < textIn.size(); ++i) {
        const std::string& theirs = answers[bytesIn.size() + i];
        const std::string ours = comparison::Hex(platform::Utf16ToAnsi(textIn[i]));
        if (ours != theirs && ++differences <= kListed) {
            ADD_FAILURE() << "text " << comparison::Hex(textIn[i]) << " -> ours " << ours << ", Windows " << theirs;
        }
    }
    EXPECT_EQ(differences, 0) << "of " << answers.size() << " conversions (the first " << kListed << " are listed)";
}

}  // namespace

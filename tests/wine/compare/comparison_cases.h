// The inputs both sides of the platform comparison convert, in one order, and
// the text form in which each side writes its answers: one line per case, the
// result as hexadecimal units (4 digits for UTF-16, 2 for bytes).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace comparison {

// Every single byte alone, then every lead byte 0x81..0xFE with every byte
// after it, then the empty text.
inline std::vector<std::string> AnsiInputs()
{
    std::vector<std::string> inputs;
    for (unsigned b = 0; b <= 0xFF; ++b) {
        inputs.emplace_back(1, static_cast<char>(b));
    }
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0; trail <= 0xFF; ++trail) {
            inputs.push_back({static_cast<char>(lead), static_cast<char>(trail)});
        }
    }
    inputs.emplace_back();
    return inputs;
}

// Every UTF-16 unit alone (lone surrogates included), characters outside the
// basic plane, and the empty text.
inline std::vector<std::u16string> Utf16Inputs()
{
    std::vector<std::u16string> inputs;
    for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
        inputs.emplace_back(1, static_cast<char16_t>(unit));
    }
    inputs.push_back(u"\U0001F600");
    inputs.push_back(u"\U00020000");
    inputs.push_back(u"\U0010FFFF");
    inputs.push_back(u"a\U0001F600b");
    inputs.emplace_back();
    return inputs;
}

inline std::string Hex(const std::u16string& units)
{
    std::string out;
    char digits[8];
    for (const char16_t unit : units) {
        std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(unit));
        out += digits;
    }
    return out;
}

inline std::string Hex(const std::string& bytes)
{
    std::string out;
    char digits[4];
    for (const char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(static_cast<unsigned char>(byte)));
        out += digits;
    }
    return out;
}

// One INI query per line of the query file, fields separated by tabs:
// file path (UTF-8, Windows form), section, key, default, buffer units.
struct IniQuery {
    std::string path;
    std::string section;
    std::string key;
    std::string defaultValue;
    unsigned bufferUnits = 20;
};

inline std::string QueryLine(const IniQuery& q)
{
    return q.path + '\t' + q.section + '\t' + q.key + '\t' + q.defaultValue + '\t' + std::to_string(q.bufferUnits);
}

inline bool ParseQueryLine(const std::string& line, IniQuery& q)
{
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (fields.size() != 5) {
        return false;
    }
    q = {fields[0], fields[1], fields[2], fields[3], static_cast<unsigned>(std::stoul(fields[4]))};
    return true;
}

}  // namespace comparison

#include "manifest_writer.h"

#include <array>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "transfer/descramble.h"

namespace {

// The updater reads the values it uses into buffers of this many units, the
// terminator included.
constexpr std::size_t UPDATER_BUFFER_UNITS = 20;
constexpr std::size_t UPDATER_MAX_CHARS = UPDATER_BUFFER_UNITS - 1;

struct Key {
    const char16_t* section;
    const char16_t* key;
    const char* label;  // for messages
    const CString ManifestValues::*value;
    bool scrambled;
    bool readByUpdater;
};

constexpr std::array<Key, 6> KEYS{{
    {u"version", u"ver", "version", &ManifestValues::version, false, true},
    {u"version", u"name", "product code", &ManifestValues::product, false, true},
    {u"version", u"url", "archive URL", &ManifestValues::url, true, false},
    {u"ftp", u"ip", "FTP host", &ManifestValues::server, true, true},
    {u"ftp", u"username", "FTP user", &ManifestValues::user, true, true},
    {u"ftp", u"password", "FTP password", &ManifestValues::password, true, true},
}};

std::string Quoted(const CString& value) { return "\"" + platform::Utf16ToUtf8(value) + "\""; }

CString StoredForm(const Key& key, const ManifestValues& values)
{
    const CString& plain = values.*key.value;
    return key.scrambled ? ScrambleField(plain) : plain;
}

CString ReadBack(const Key& key, const std::filesystem::path& path)
{
    const std::size_t units = key.readByUpdater ? UPDATER_BUFFER_UNITS : SCRAMBLE_BUFFER_BYTES;
    const CString stored = platform::GetPrivateProfileStringW(
        key.section, key.key, u"", units, platform::Utf8ToUtf16(path.string()));
    if (!key.scrambled) {
        return stored;
    }
    std::vector<char16_t> plain(SCRAMBLE_BUFFER_BYTES + stored.size() + 1, u'\0');
    DescrambleField(stored.c_str(), plain.data());
    return CString(plain.data());
}

// One to four decimal numbers joined by ".".
bool IsVersionNumber(const CString& version)
{
    int numbers = 0;
    bool inNumber = false;
    for (const char16_t unit : version) {
        if (unit >= u'0' && unit <= u'9') {
            numbers += inNumber ? 0 : 1;
            inNumber = true;
        } else if (unit == u'.' && inNumber) {
            inNumber = false;
        } else {
            return false;
        }
    }
    return inNumber && numbers <= 4;
}

}  // namespace

bool IsKnownProductCode(const CString& code)
{
    return code == u"qb" || code == u"zt_e" || code == u"zt_p";
}

bool CheckManifestValues(const ManifestValues& values, std::string& error)
{
    if (!IsVersionNumber(values.version)) {
        error = "version " + Quoted(values.version) + " is not one to four numbers joined by \".\"";
        return false;
    }
    if (!IsKnownProductCode(values.product)) {
        error = "product code " + Quoted(values.product) + " is none of qb, zt_e, zt_p";
        return false;
    }
    if (values.server.empty()) {
        error = "no FTP host given";
        return false;
    }
    for (const Key& key : KEYS) {
        const CString& plain = values.*key.value;
        if (key.scrambled && !ScrambledValueSurvivesManifest(plain)) {
            error = std::string("the ") + key.label + " " + Quoted(plain) +
                    " cannot be stored scrambled: its scrambled bytes are not code page 936 text"
                    " or it is too long; choose another value";
            return false;
        }
    }
    return true;
}

std::string ManifestText(const ManifestValues& values)
{
    CString text;
    const char16_t* section = nullptr;
    for (const Key& key : KEYS) {
        if (section == nullptr || CString(section) != key.section) {
            section = key.section;
            text += u"[" + CString(section) + u"]\r\n";
        }
        text += CString(key.key) + u"=" + StoredForm(key, values) + u"\r\n";
        if (key.value == &ManifestValues::product && values.size) {
            text += u"size=" + platform::Utf8ToUtf16(std::to_string(*values.size)) + u"\r\n";
        }
    }
    // The last section is [ftp].
    if (values.tls) {
        text += u"tls=1\r\n";
    }
    return platform::Utf16ToAnsi(text);
}

bool WriteManifest(const std::filesystem::path& path, const ManifestValues& values, std::string& error)
{
    if (!CheckManifestValues(values, error)) {
        return false;
    }
    std::filesystem::path partial = path;
    partial += ".partial";
    {
        const std::string bytes = ManifestText(values);
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            error = "cannot write " + partial.string();
            std::error_code ec;
            std::filesystem::remove(partial, ec);
            return false;
        }
    }
    for (const Key& key : KEYS) {
        const CString& plain = values.*key.value;
        const CString back = ReadBack(key, partial);
        if (back != plain) {
            error = std::string("the ") + key.label + " " + Quoted(plain);
            error += key.readByUpdater && StoredForm(key, values).size() > UPDATER_MAX_CHARS
                         ? " is longer than the " + std::to_string(UPDATER_MAX_CHARS) + " characters the updater reads"
                         : " reads back from the manifest as " + Quoted(back);
            std::error_code ec;
            std::filesystem::remove(partial, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        error = "cannot create " + path.string() + ": " + ec.message();
        std::filesystem::remove(partial, ec);
        return false;
    }
    return true;
}

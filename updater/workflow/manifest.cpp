#include "updater/workflow/manifest.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/files.h"
#include "platform/ini.h"
#include "platform/module_path.h"
#include "transfer/descramble.h"

CString g_strNewVersion;

namespace {

constexpr std::array<ProductInfo, 3> kProducts{{
    {PRODUCT_QUENBY, u"qb", u"qb", u"Quenby.exe"},
    {PRODUCT_ZENTORA_E, u"zt_e", u"zt_e", u"Zentora.exe"},
    {PRODUCT_ZENTORA_P, u"zt_p", u"zt_p", u"Zentora.exe"},
}};

bool IsConversionBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// A version component as the C library's decimal conversion reads it: leading
// blanks, an optional sign, digits up to the first non-digit; no digits is 0.
// Out-of-range values stop at the 32-bit limits instead of wrapping.
std::int64_t ComponentValue(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsConversionBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min(value * 10 + (text[i] - u'0'), kLimit);
    }
    if (negative) {
        return -value;
    }
    return std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max());
}

std::array<std::int64_t, 4> VersionNumbers(std::u16string_view text)
{
    std::array<std::int64_t, 4> numbers{};
    for (std::size_t position = 0; position < numbers.size(); ++position) {
        const std::size_t dot = text.find(u'.');
        numbers[position] = ComponentValue(text.substr(0, dot));
        if (dot == std::u16string_view::npos) {
            break;  // the rest count as 0
        }
        text.remove_prefix(dot + 1);
    }
    return numbers;
}

CString ReadValue(const CString& path, const char16_t* section, const char16_t* key)
{
    return platform::GetPrivateProfileStringW(section, key, u"", MANIFEST_VALUE_UNITS, path);
}

CString ReadScrambledValue(const CString& path, const char16_t* section, const char16_t* key)
{
    const CString stored = ReadValue(path, section, key);
    std::array<char16_t, PLAIN_VALUE_UNITS> plain{};
    if (!DescrambleField(stored.c_str(), plain.data(), plain.size())) {
        return {};
    }
    return plain.data();
}

}  // namespace

std::int32_t ProductIndexFromName(const CString& name)
{
    for (const ProductInfo& product : kProducts) {
        if (product.index != PRODUCT_ZENTORA_P && name == product.name) {
            return product.index;
        }
    }
    return PRODUCT_ZENTORA_P;
}

const ProductInfo& GetProductInfo(std::int32_t productIndex)
{
    if (productIndex < 0 || productIndex >= static_cast<std::int32_t>(kProducts.size())) {
        return kProducts.back();
    }
    return kProducts[static_cast<std::size_t>(productIndex)];
}

CString RemoteUpdateUrl(const CString& server, std::int32_t productIndex, const CString& fileName)
{
    return u"ftp://" + server + u"/update/" + GetProductInfo(productIndex).folderCode + u"/" +
           fileName;
}

CString InstallDirFromModulePath(const CString& modulePath)
{
    const std::size_t slash = modulePath.find_last_of(u"/\\");
    const std::size_t nameStart = slash == CString::npos ? 0 : slash + 1;
    const CString ownName = CString(UPDATER_EXECUTABLE_NAME) + platform::kProgramSuffix;
    if (std::u16string_view(modulePath).substr(nameStart) != ownName) {
        return {};
    }
    return modulePath.substr(0, nameStart);
}

bool CompareVersions(CString installed, CString offered)
{
    if (installed == offered) {
        return true;
    }
    const auto mine = VersionNumbers(installed);
    const auto theirs = VersionNumbers(offered);
    for (std::size_t i = 0; i < mine.size(); ++i) {
        if (mine[i] != theirs[i]) {
            return mine[i] > theirs[i];
        }
    }
    return true;
}

namespace {

// A whole positive decimal number of at most nine digits; 0 for anything else.
long long PositiveSetting(const CString& path, const char16_t* section, const char16_t* key)
{
    const CString text = ReadValue(path, section, key);
    if (text.empty() || text.size() > 9) {
        return 0;
    }
    long long value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
        value = value * 10 + (c - u'0');
    }
    return value;
}

}  // namespace

InstalledManifest ReadInstalledManifest(const CString& path)
{
    InstalledManifest manifest;
    manifest.version = ReadValue(path, u"version", u"ver");
    manifest.name = ReadValue(path, u"version", u"name");
    manifest.server = ReadScrambledValue(path, u"ftp", u"ip");
    manifest.user = ReadScrambledValue(path, u"ftp", u"username");
    manifest.password = ReadScrambledValue(path, u"ftp", u"password");
    if (const long long kib = PositiveSetting(path, u"ftp", u"minrate"); kib > 0) {
        manifest.downloadFloorRate = kib * 1024;
    }
    if (const long long seconds = PositiveSetting(path, u"database", u"busytimeout"); seconds > 0) {
        manifest.dbBusyTimeoutMs = static_cast<int>(std::min<long long>(seconds, 24 * 3600) * 1000);
    }
    return manifest;
}

CString ReadManifestVersion(const CString& path) { return ReadValue(path, u"version", u"ver"); }

bool CommitNewManifest(const CString& installDir)
{
    return platform::MoveFileReplace(installDir + NEW_MANIFEST_FILE, installDir + MANIFEST_FILE);
}

bool DiscardNewManifest(const CString& installDir)
{
    const CString path = installDir + NEW_MANIFEST_FILE;
    platform::DeleteFileW(path);
    return !platform::PathExists(path);
}

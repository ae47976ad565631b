#include "viewer/document_rules.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "viewer/convert_bridge.h"

namespace {

constexpr char16_t kTempFolder[] = u"\\tmp\\";

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool IsLegalCommandLine(const std::vector<CString>& args)
{
    return args.size() >= VIEWER_REQUIRED_ARGS;
}

CString ProgramFolderOf(const CString& modulePath)
{
    const std::size_t cut = modulePath.find_last_of(u"\\/");
    return cut == CString::npos ? CString() : modulePath.substr(0, cut);
}

CString DocumentTypeOf(const CString& url)
{
    const std::size_t dot = url.rfind(u'.');
    CString type = dot == CString::npos ? url : url.substr(dot + 1);
    for (char16_t& c : type) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return type;
}

bool IsSafeFileNamePart(const CString& text)
{
    for (char16_t c : text) {
        if (IsSeparator(c)) {
            return false;
        }
    }
    return text.find(u"..") == CString::npos;
}

bool IsSafeDocumentName(const CString& baseName, const CString& type)
{
    const CString fileName = baseName + u"." + type;
    return IsSafeFileNamePart(baseName) && IsSafeFileNamePart(type) && fileName != u"." && fileName != u"..";
}

DocumentAction ChooseDocumentAction(const CString& type)
{
    if (type == u"doc") {
        return {true, CONVERT_DOC};
    }
    if (type == u"mht") {
        return {true, CONVERT_MHT};
    }
    if (type == u"pdf") {
        return {true, CONVERT_PDF};
    }
    return {};
}

CString TempFolderOf(const CString& workFolder) { return workFolder + u"\\tmp"; }

CString DownloadPathOf(const CString& workFolder, const CString& baseName, const CString& type)
{
    return workFolder + kTempFolder + baseName + u"." + type;
}

CString ConvertedPathOf(const CString& workFolder, const CString& baseName)
{
    return workFolder + kTempFolder + baseName + u".html";
}

CString FilesFolderOf(const CString& documentPath)
{
    const std::size_t dot = documentPath.rfind(u'.');
    if (dot == CString::npos) {
        return {};
    }
    for (std::size_t i = dot + 1; i < documentPath.size(); ++i) {
        if (IsSeparator(documentPath[i])) {
            return {};
        }
    }
    return documentPath.substr(0, dot) + u".files";
}

CString FormatProgressText(const CString& title, WPARAM percent)
{
    // The message carries a 32-bit value; "%d" shows it signed, as the window
    // text always has.
    const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(percent));
    char digits[16];
    std::snprintf(digits, sizeof digits, "  %d", value);
    CString text = title;
    for (const char* p = digits; *p != '\0'; ++p) {
        text.push_back(static_cast<char16_t>(*p));
    }
    return text;
}

#include "updater/install/archive_paths.h"

#include "platform/files.h"

namespace archive {

namespace {

bool IsSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

// Drops everything up to and including the first occurrence of `pattern`.
bool DropThrough(CString& name, std::u16string_view pattern)
{
    const auto at = name.find(pattern);
    if (at == CString::npos) {
        return false;
    }
    name.erase(0, at + pattern.size());
    return true;
}

bool ApplyFirstRule(CString& name)
{
    if (name.size() >= 2 && name[1] == u':') {
        name.erase(0, 2);
        return true;
    }
    if (!name.empty() && IsSeparator(name[0])) {
        name.erase(0, 1);
        return true;
    }
    return DropThrough(name, u"\\..\\") || DropThrough(name, u"\\../") ||
           DropThrough(name, u"/../") || DropThrough(name, u"/..\\");
}

}  // namespace

CString SanitizeEntryName(CString name)
{
    // Each rule shortens the name, so this ends.
    while (ApplyFirstRule(name)) {
    }
    return name;
}

bool IsAbsoluteName(const CString& name)
{
    return (!name.empty() && IsSeparator(name[0])) || (name.size() >= 2 && name[1] == u':');
}

bool HasParentComponent(const CString& name)
{
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        if (end - start == 2 && name[start] == u'.' && name[start + 1] == u'.') {
            return true;
        }
        start = end + 1;
    }
    return false;
}

void SplitTargetName(const CString& name, CString& directoryPart, CString& filePart)
{
    const auto last = name.find_last_of(u"\\/");
    if (last == CString::npos) {
        directoryPart.clear();
        filePart = name;
        return;
    }
    directoryPart = name.substr(0, last + 1);
    filePart = name.substr(last + 1);
}

std::vector<CString> MissingDirectoryChain(const CString& base, const CString& directoryPath)
{
    std::vector<CString> missing;
    if (!base.empty() && !platform::PathExists(base)) {
        missing.push_back(base);
    }
    for (std::size_t i = 0; i < directoryPath.size(); ++i) {
        const bool separator = directoryPath[i] == u'/' || directoryPath[i] == u'\\';
        if ((!separator && i + 1 != directoryPath.size()) || (separator && i == 0)) {
            continue;
        }
        const CString full = base + directoryPath.substr(0, separator ? i : i + 1);
        if (!platform::PathExists(full)) {
            missing.push_back(full);
        }
    }
    return missing;
}

}  // namespace archive

#include "updater/install/reserved_names.h"

#include "updater/install/archive_paths.h"

namespace archive {

namespace {

CString AsciiLower(CString text)
{
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
    }
    return text;
}

bool IsSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

}  // namespace

std::vector<CString> NameComponents(const CString& name)
{
    std::vector<CString> components;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        const CString component = name.substr(start, end - start);
        if (!component.empty() && component != u".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    return components;
}

bool IsReservedName(const CString& relativeName)
{
    const std::vector<CString> components = NameComponents(relativeName);
    if (components.empty()) {
        return false;
    }
    // Case is ignored: on a file system that folds case these are the same
    // files, and nothing legitimate is called so anyway.
    const CString first = AsciiLower(components.front());
    return first.starts_with(AsciiLower(RESERVED_JOURNAL_FOLDER)) || first == AsciiLower(RESERVED_LOCK_FILE) ||
           first == u"newversion.ini" || first == u"update.zip";
}

bool IsInsideInstallation(const CString& installDir, const CString& path)
{
    if (!path.starts_with(installDir)) {
        return false;
    }
    if (!installDir.empty() && !IsSeparator(installDir.back()) &&
        (path.size() == installDir.size() || !IsSeparator(path[installDir.size()]))) {
        return false;  // a sibling whose name merely starts the same
    }
    const CString rest = path.substr(installDir.size());
    return !rest.empty() && !IsAbsoluteName(rest) && !HasParentComponent(rest) && !NameComponents(rest).empty() &&
           !IsReservedName(rest);
}

}  // namespace archive

#include "chinese_font.h"

#include <wx/fontenum.h>

namespace {

// Faces found on free desktops where the Windows ones are missing.
const char* const kFallbackFaces[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Serif CJK SC",
                                      "Droid Sans Fallback"};

bool TakeIfInstalled(wxFontInfo& info, const char* face)
{
    const wxString name = wxString::FromUTF8(face);
    if (!wxFontEnumerator::IsValidFacename(name)) {
        return false;
    }
    info.FaceName(name);
    return true;
}

}  // namespace

wxFont ChineseFont(wxFontInfo info, std::initializer_list<const char*> preferred)
{
    for (const char* face : preferred) {
        if (TakeIfInstalled(info, face)) {
            return wxFont(info);
        }
    }
    for (const char* face : kFallbackFaces) {
        if (TakeIfInstalled(info, face)) {
            break;
        }
    }
    return wxFont(info);
}

// Program text (UTF-16) as the toolkit's strings.
#pragma once

#include <wx/string.h>

#include "platform/codepage.h"
#include "platform/types.h"

inline wxString ToWx(const CString& text)
{
    return wxString::FromUTF8(platform::Utf16ToUtf8(text));
}

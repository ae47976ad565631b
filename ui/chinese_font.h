// The font for a window's Chinese text.
#pragma once

#include <initializer_list>

#include <wx/font.h>

// `info` with the first installed face of `preferred` (UTF-8 names), else the
// first installed face known to carry the Chinese characters; with no such
// face, `info` as it is and the toolkit's default face.
wxFont ChineseFont(wxFontInfo info, std::initializer_list<const char*> preferred);

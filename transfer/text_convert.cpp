#include "transfer/text_convert.h"

#include "platform/codepage.h"

std::string WideToAnsi(const CString& text) { return platform::Utf16ToAnsi(platform::UpToNul(text)); }

CString AnsiToWide(const std::string& text) { return platform::AnsiToUtf16(platform::UpToNul(text)); }

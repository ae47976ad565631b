#include "updater/install/ansi_text.h"

#include <new>
#include <stdexcept>

#include "platform/codepage.h"

std::string CStringToAnsi(const CString& text) { return platform::Utf16ToAnsi(platform::UpToNul(text)); }

CString AnsiToCString(const std::string& text) { return platform::AnsiToUtf16(platform::UpToNul(text)); }

std::string AnsiToUtf8(const std::string& text)
{
    try {
        return platform::AnsiToUtf8(platform::UpToNul(text));
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Error in conversion.");
    } catch (const std::length_error&) {
        throw std::runtime_error("Error in conversion.");
    }
}

#include "platform/process.h"

#include "platform/codepage.h"

namespace platform {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(const CString& commandLine)
{
    std::vector<std::string> args;
    std::u16string current;
    bool inArgument = false;
    bool quoted = false;
    for (char16_t c : commandLine) {
        if (c == u'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (IsBlank(c) && !quoted) {
            if (inArgument) {
                args.push_back(Utf16ToUtf8(current));
                current.clear();
                inArgument = false;
            }
        } else {
            current.push_back(c);
            inArgument = true;
        }
    }
    if (inArgument) {
        args.push_back(Utf16ToUtf8(current));
    }
    return args;
}

}  // namespace platform

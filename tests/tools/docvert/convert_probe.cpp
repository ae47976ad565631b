// Runs the viewer's conversion bridge once from wherever this program lies:
//   convert_probe doc|mht|pdf SOURCE TARGET
// Exit status 0 when the bridge reports success, 1 when it reports failure,
// 2 for a wrong command line.
#include <string>

#include "platform/codepage.h"
#include "platform/types.h"
#include "viewer/convert_bridge.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        return 2;
    }
    const std::string kind = argv[1];
    const int code = kind == "doc" ? CONVERT_DOC : kind == "mht" ? CONVERT_MHT : kind == "pdf" ? CONVERT_PDF : -1;
    if (code < 0) {
        return 2;
    }
    const CString source = platform::Utf8ToUtf16(argv[2]);
    const CString target = platform::Utf8ToUtf16(argv[3]);
    return ConvertToHtml(source.c_str(), target.c_str(), code) ? 0 : 1;
}

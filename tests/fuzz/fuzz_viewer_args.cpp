// The viewer's command line turned into the paths of its temporary files.
//
// Invariants: fewer than six arguments are refused; whenever the pipeline
// accepts the base name and the document type, the downloaded file, the
// converted page and their supporting-files folders each name one entry
// directly inside the temporary folder W/tmp (after the "\" separators become
// "/" and "." and ".." are resolved), never the folder itself or anything
// outside it; the progress text starts with the title.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "viewer/document_rules.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t kModulePath[] = u"/opt/cvglance/CvGlance";

void CheckInsideTemp(const CString& path, const fs::path& temp, const char* what)
{
    const fs::path normal = fs::path(platform::NativePath(path)).lexically_normal();
    const std::string name = normal.filename().string();
    FUZZ_CHECK(normal.parent_path() == temp && !name.empty() && name != "." && name != "..",
               std::string(what) + " lies directly inside " + temp.string() + ", not at " + normal.string());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Arguments as the program receives them: NUL-separated UTF-8.
    std::vector<CString> args;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty() && args.size() < 8) {
        const std::size_t end = input.find('\0');
        args.push_back(platform::Utf8ToUtf16(input.substr(0, end)));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    FUZZ_CHECK(IsLegalCommandLine(args) == (args.size() >= VIEWER_REQUIRED_ARGS),
               "six arguments or more are required");
    if (!IsLegalCommandLine(args)) {
        return 0;
    }
    // The dialog appends the program's folder; with six arguments it is the
    // work folder.
    args.push_back(ProgramFolderOf(kModulePath));
    const CString& baseName = args[ARG_BASE_NAME];
    const CString& workFolder = args[ARG_WORK_FOLDER];
    const CString type = DocumentTypeOf(args[ARG_URL]);

    const CString progress = FormatProgressText(args[ARG_TITLE], 42);
    FUZZ_CHECK(progress == args[ARG_TITLE] + u"  42", "the progress text is the title, two spaces and the percent");

    if (!IsSafeDocumentName(baseName, type)) {
        return 0;  // refused before anything is written
    }
    const fs::path temp = fs::path(platform::NativePath(workFolder + u"\\tmp")).lexically_normal();
    const CString download = DownloadPathOf(workFolder, baseName, type);
    const CString converted = ConvertedPathOf(workFolder, baseName);
    CheckInsideTemp(download, temp, "the downloaded file");
    CheckInsideTemp(converted, temp, "the converted page");
    for (const CString& shown : {download, converted}) {
        const CString files = FilesFolderOf(shown);
        if (!files.empty()) {
            CheckInsideTemp(files, temp, "the supporting-files folder");
        }
    }
    return 0;
}

// The viewer's rules for its command line, its temporary files and the
// document types it converts: pure functions, shared by the dialog's logic and
// its worker.
#pragma once

#include <vector>

#include "platform/types.h"
#include "platform/window.h"

// Positions in CCvGlanceDlg::m_Args.
enum ViewerArg : std::size_t {
    ARG_TITLE = 0,
    ARG_BASE_NAME = 1,
    ARG_URL = 2,
    ARG_USER = 3,
    ARG_PASSWORD = 4,
    ARG_PORT = 5,
    ARG_WORK_FOLDER = 6,  // the 7th argument, or the appended program folder
};

// The pipeline needs all six arguments; fewer are refused like an empty
// command line.
constexpr std::size_t VIEWER_REQUIRED_ARGS = 6;
bool IsLegalCommandLine(const std::vector<CString>& args);

// The folder of a program path: everything before its last separator ("\" or
// "/"). A path without a separator gives an empty text.
CString ProgramFolderOf(const CString& modulePath);

// The document type of a source URL: the text after its last "." (all of it
// when it has none), lower-cased.
CString DocumentTypeOf(const CString& url);

// False when the text could lead a temporary file out of the temporary folder:
// it contains "/", "\" or "..".
bool IsSafeFileNamePart(const CString& text);

// False when the temporary files of a base name and document type could lie
// anywhere but inside the temporary folder: either part fails
// IsSafeFileNamePart, or together ("N" + "." + "E") they name the folder
// itself or its parent ("." or "..", from an empty type).
bool IsSafeDocumentName(const CString& baseName, const CString& type);

// What the pipeline does with a downloaded document of a given type.
struct DocumentAction {
    bool convert = false;  // false: shown as downloaded
    int kind = 0;          // ConvertKind, when convert is true
};
DocumentAction ChooseDocumentAction(const CString& type);

// The temporary folder W\tmp, where every document shown and its supporting
// files lie.
CString TempFolderOf(const CString& workFolder);

// The temporary files of one document: W\tmp\N.E and W\tmp\N.html.
CString DownloadPathOf(const CString& workFolder, const CString& baseName, const CString& type);
CString ConvertedPathOf(const CString& workFolder, const CString& baseName);

// The folder of supporting files that may sit beside a shown page: the path
// cut before its last "." followed by ".files". Empty when the path has no
// "." in its last component, so that nothing outside the document's own folder
// is ever named.
CString FilesFolderOf(const CString& documentPath);

// The window text while downloading: the title, two spaces, the percent (the
// low 32 bits of the message parameter, as a signed decimal).
CString FormatProgressText(const CString& title, WPARAM percent);

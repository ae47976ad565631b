// Starting other programs the way the shell's "open" verb does.
#pragma once

#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/types.h"

namespace platform {

// Splits a command line into arguments at blanks and tabs; a double-quoted run
// is kept together without its quotes. Empty text gives no arguments.
std::vector<std::string> SplitCommandLine(const CString& commandLine);

// Finds an executable regular file called `name`: in each of `folders` in
// order (an empty folder text means the current directory), then in the
// folders of PATH. A name that contains "/" is taken as it stands. Returns the
// path to run it by, or empty text when nothing is found.
Path FindProgram(const std::string& name, const std::vector<Path>& folders);

// Starts the program detached: in its own session, inheriting the current
// directory, with standard input, output and error on /dev/null and no other
// descriptor of ours. It is never waited for and outlives the caller. False
// when the program could not be started (fork or exec failed).
bool StartDetached(const Path& program, const std::vector<std::string>& args);

// The shell's "open" verb for a program given by bare name: looks for `file`
// in the current directory, then in `programDir`, then on PATH, and starts it
// detached with `parameters` split as a command line. False when the program
// is not found or cannot be started.
bool ShellExecuteOpen(const CString& file, const CString& parameters, const Path& programDir);
inline bool ShellExecuteOpen(const CString& file, const CString& parameters, const CString& programDir)
{
    return ShellExecuteOpen(file, parameters, ToPath(programDir));  // a folder held as program text
}

// Makes a write past the process's file-size limit fail like a full disk
// instead of ending the process (SIGXFSZ). Windows has no such signal: there a
// write past a limit only fails, and this does nothing.
void IgnoreFileSizeLimitSignal();

// Opens a document with the desktop's default viewer ("xdg-open"), detached.
// A relative path is taken relative to the current directory. False when no
// opener is installed or it cannot be started; whether the viewer then finds
// and shows the document is the viewer's business.
bool OpenDocument(const Path& path);
inline bool OpenDocument(const CString& path) { return OpenDocument(ToPath(path)); }  // program text

}  // namespace platform

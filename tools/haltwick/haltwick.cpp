// Haltwick -k NAME          ends the current user's processes named NAME (or NAME
//                           without ".exe"): asked to end (SIGTERM; on Windows
//                           WM_CLOSE to its windows), up to 5 s grace, then forced.
// Haltwick -s NAME ARGS...  starts NAME (or NAME without ".exe", looked up in the
//                           current directory, then PATH) detached, with ARGS:
//                           no console or terminal of ours, not waited for.
//
// Exit status: 0 done; 1 a process outlived being forced or NAME could not be
// started; 2 wrong command line.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
#include "haltwick_kill.h"

// The name as given, and without a trailing ".exe" (any letter case).
std::vector<std::string> CandidateNames(const std::string& name)
{
    std::vector<std::string> names{name};
    if (name.size() > 4) {
        std::string suffix = name.substr(name.size() - 4);
        for (char& c : suffix) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (suffix == ".exe") {
            names.push_back(name.substr(0, name.size() - 4));
        }
    }
    return names;
}

namespace {

int StartByName(const std::string& name, char** args, int argCount)
{
    platform::Path program;
    for (const std::string& candidate : CandidateNames(name)) {
        program = platform::FindProgram(candidate, {platform::Path()});
        if (!program.empty()) {
            break;
        }
    }
    if (program.empty()) {
        std::fprintf(stderr, "Haltwick: %s not found in the current directory or PATH\n", name.c_str());
        return 1;
    }
    if (!platform::StartDetached(program, std::vector<std::string>(args, args + argCount))) {
        std::fprintf(stderr, "Haltwick: cannot start %s\n", platform::PathUtf8(program).c_str());
        return 1;
    }
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: Haltwick -k NAME          end this user's processes named NAME\n"
                 "       Haltwick -s NAME ARGS...  start NAME detached with ARGS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return Usage();
    }
    const std::string option = argv[1];
    if (option == "-k" && argc == 3) {
        return KillByName(argv[2]);
    }
    if (option == "-s") {
        return StartByName(argv[2], argv + 3, argc - 3);
    }
    return Usage();
}

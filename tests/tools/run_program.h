// Runs a program to its end for a test, with its output captured.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProgramRun {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` in `workDir` (when not empty) with the extra
// environment variables `env` set; waits for it.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::filesystem::path& workDir = {},
                      const std::vector<std::pair<std::string, std::string>>& env = {});

// The program binaries of this build.
std::string BuiltProgram(const std::string& name);

}  // namespace testsupport

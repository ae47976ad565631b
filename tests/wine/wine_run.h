// Running Windows programs under Wine from a Linux test: through
// cmake/wine-run.sh (MORVEX_WINE_RUN, defined by the test's build), which
// switches to the Wine user when the tests run as root.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"

// The Wine user (another account when the tests run as root) must reach the
// scene and write where the programs write: everything below `root` is opened
// to every user.
inline void OpenToWine(const std::filesystem::path& root)
{
    namespace fs = std::filesystem;
    fs::permissions(root, fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms::all : fs::perms::all & ~fs::perms::others_exec
                                                                                  & ~fs::perms::group_exec);
    }
}

// Starts a Windows program under Wine in the background, its standard error
// kept in `stderrFile`; without DISPLAY unless `withDisplay`; `env` is added
// to its environment (Wine hands it on to the program).
inline std::unique_ptr<testsupport::ChildProcess> StartUnderWine(
    std::vector<std::string> args, bool withDisplay, const std::filesystem::path& stderrFile,
    std::vector<std::pair<std::string, std::string>> env = {})
{
    testsupport::ChildOptions options;
    options.stderrFile = stderrFile;
    options.env = std::move(env);
    if (!withDisplay) {
        options.unsetEnv.push_back("DISPLAY");
    }
    args.insert(args.begin(), MORVEX_WINE_RUN);
    return std::make_unique<testsupport::ChildProcess>(args, options);
}

// Its exit status once it ended, or -1 when it hung or a signal ended it.
inline int ExitWithin(testsupport::ChildProcess& child, std::chrono::seconds bound)
{
    return child.WaitForExit(bound) ? child.ExitCode() : -1;
}

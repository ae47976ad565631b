// The journal's crash checks with the Windows updater under Wine: the journal
// suite's scene, checks and classification, with each run of the updater made
// by journal_runner.exe, which the crash hook ends with TerminateProcess.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/durable_file.h"
#include "support/script_tools.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "updater/workflow/journal/journal_crash_test.h"
#include "wine/wine_path.h"
#include "wine/wine_run.h"

namespace {

namespace fs = std::filesystem;

// Whether a process started in `workDir` (this scene's runs) still runs the
// process-control stand-in. Wine shows a Windows process's command line as it
// was started (".\Haltwick.exe" or a full path), so the name is looked for in
// any letter case within its arguments.
bool StandInRuns(const fs::path& workDir)
{
    const fs::path folder = fs::canonical(workDir);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::error_code ignored;
        if (fs::read_symlink(entry.path() / "cwd", ignored) != folder) {
            continue;
        }
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        for (std::string arg; std::getline(cmdline, arg, '\0');) {
            std::transform(arg.begin(), arg.end(), arg.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (arg.find("haltwick.exe") != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

// Runs journal_runner.exe with `args` to its end, and waits for the
// process-control stand-ins it started (detached) to end too. Its exit status,
// or -1.
int RunUnderWine(const JournalScene& scene, const std::vector<std::string>& args, long crashStep)
{
    // The stand-in goes where the updater looks first: its current directory.
    const fs::path standIn = scene.WorkDir() / "Haltwick.exe";
    if (!fs::exists(standIn)) {
        fs::copy_file(fs::path(MORVEX_WINDOWS_BIN) / "call_recorder.exe", standIn);
    }
    // Again before every run: resetting the installation makes its files anew.
    OpenToWine(scene.Root());
    std::vector<std::pair<std::string, std::string>> env = {
        {"MORVEX_TEST_CALL_LOG", WinePath(scene.Root() / "haltwick.log")}};
    if (crashStep > 0) {
        env.emplace_back("MORVEX_TEST_CRASH_STEP", std::to_string(crashStep));
    }
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), MORVEX_WINDOWS_BIN "/journal_runner.exe");
    const fs::path stderrFile = scene.Root() / "runner-stderr.txt";
    const auto runner = StartUnderWine(argv, false, stderrFile, env);
    const int status = ExitWithin(*runner, std::chrono::seconds(300));
    // The stand-ins run detached. Wine returns from starting one only once it
    // runs, so one that is not seen any more has recorded its call.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !StandInRuns(scene.WorkDir()); }, std::chrono::minutes(2)));
    EXPECT_TRUE(status == 0 || status == static_cast<int>(platform::kAbruptEndExitCode))
        << "journal_runner.exe " << args.front() << " ended with " << status << ": "
        << testsupport::ReadFileBytes(stderrFile);
    return status;
}

ChildRun RunOnce(const JournalScene& scene, long crashStep)
{
    const int status =
        RunUnderWine(scene, {"run", WinePath(scene.Install()), WinePath(scene.CallsFile())}, crashStep);
    ChildRun run;
    run.killed = status == static_cast<int>(platform::kAbruptEndExitCode);
    run.finished = status == 0;
    run.windowCalls = ReadLines(scene.CallsFile());
    return run;
}

bool RecoverOnce(const JournalScene& scene) { return RunUnderWine(scene, {"recover", WinePath(scene.Install())}, 0) == 0; }

}  // namespace

INSTANTIATE_TEST_SUITE_P(Windows, JournalCrash, testing::Values(UpdaterLauncher{"UnderWine", RunOnce, RecoverOnce}),
                         LauncherName);

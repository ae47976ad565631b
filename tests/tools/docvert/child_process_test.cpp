#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "support/converter_service_scope.h"
#include "support/temp_dir.h"
#include "tools/docvert/child_process.h"

namespace {

using docvert::ChildOptions;
using docvert::ChildOutcome;
using docvert::RunChild;
using namespace std::chrono_literals;

ChildOptions WithOutput(const std::string& path)
{
    ChildOptions options;
    options.stdoutPath = path;
    options.timeLimit = 20s;
    return options;
}

// True once the process is gone (or only a zombie of it is left). Killed
// processes vanish asynchronously, so this waits for them.
bool ProcessEnds(pid_t pid)
{
    return testsupport::WaitUntil([pid] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        return !std::getline(stat, line) || line.find(") Z ") != std::string::npos;
    });
}

pid_t ReadPid(const std::string& path)
{
    std::ifstream in(path);
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

TEST(ChildProcess, ReportsHowTheChildEnded)
{
    struct Case {
        std::vector<std::string> argv;
        ChildOutcome outcome;
        int exitCode;
    };
    const Case cases[] = {
        {{"sh", "-c", "exit 0"}, ChildOutcome::Exited, 0},
        {{"sh", "-c", "exit 3"}, ChildOutcome::Exited, 3},
        {{"sh", "-c", "kill -SEGV $$"}, ChildOutcome::Signalled, -1},
        {{"docvert-no-such-program"}, ChildOutcome::NotStarted, -1},
        {{"/nonexistent/folder/program"}, ChildOutcome::NotStarted, -1},
        {{MORVEX_SOURCE_DIR "/tests/tools/docvert/fixtures/photo.png"}, ChildOutcome::NotStarted, -1},
    };
    for (const Case& c : cases) {
        const docvert::ChildResult result = RunChild(c.argv, WithOutput(""));
        EXPECT_EQ(result.outcome, c.outcome) << c.argv.back();
        EXPECT_EQ(result.exitCode, c.exitCode) << c.argv.back();
        EXPECT_EQ(result.Succeeded(), c.outcome == ChildOutcome::Exited && c.exitCode == 0) << c.argv.back();
    }
}

TEST(ChildProcess, OutputGoesToTheFileAndEnvironmentOverridesApply)
{
    testsupport::TempDir dir;
    ChildOptions options = WithOutput(dir / "out.txt");
    options.environment = {"DOCVERT_PROBE=given", "HOME=/nowhere"};
    ASSERT_TRUE(RunChild({"sh", "-c", "echo \"$DOCVERT_PROBE $HOME\"; echo noise >&2"}, options).Succeeded());
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "out.txt"), "given /nowhere\n");
}

TEST(ChildProcess, DescriptorsOfTheHostAreNotInherited)
{
    testsupport::TempDir dir;
    const int inheritable = ::open((dir / "held").c_str(), O_WRONLY | O_CREAT, 0600);  // no O_CLOEXEC
    ASSERT_GE(inheritable, 3);
    ASSERT_TRUE(RunChild({"sh", "-c", "ls /proc/$$/fd"}, WithOutput(dir / "fds.txt")).Succeeded());
    ::close(inheritable);
    const std::string fds = testsupport::ReadFileBytes(dir / "fds.txt");
    EXPECT_EQ(fds.find("\n" + std::to_string(inheritable) + "\n"), std::string::npos)
        << "descriptor " << inheritable << " should not reach the child; it has:\n" << fds;
}

TEST(ChildProcess, TimeLimitKillsTheChildAndEverythingItStarted)
{
    testsupport::TempDir dir;
    ChildOptions options = WithOutput("");
    const std::string pidFile = dir / "grandchild.pid";
    // The limit may strike before the child has even started its own; the
    // limit then grows until it has.
    pid_t grandchild = 0;
    for (options.timeLimit = 300ms; grandchild == 0 && options.timeLimit < 5min; options.timeLimit *= 2) {
        const docvert::ChildResult result =
            RunChild({"sh", "-c", "sleep 120 & echo $! > '" + pidFile + ".part'; mv '" + pidFile + ".part' '" +
                                      pidFile + "'; wait"},
                     options);
        EXPECT_EQ(result.outcome, ChildOutcome::TimedOut);
        EXPECT_FALSE(result.Succeeded());
        grandchild = ReadPid(pidFile);
    }
    ASSERT_GT(grandchild, 0) << "the child should have started its own child";
    EXPECT_TRUE(ProcessEnds(grandchild)) << "the grandchild should be killed with its parent";
}

TEST(ChildProcess, HelpersLeftBehindByAChildThatEndedAreKilled)
{
    testsupport::TempDir dir;
    const std::string pidFile = dir / "straggler.pid";
    const docvert::ChildResult result =
        RunChild({"sh", "-c", "sleep 120 & echo $! > '" + pidFile + "'"}, WithOutput(""));
    EXPECT_TRUE(result.Succeeded());
    const pid_t straggler = ReadPid(pidFile);
    ASSERT_GT(straggler, 0);
    EXPECT_TRUE(ProcessEnds(straggler)) << "a helper left running should not outlive the conversion";
}

}  // namespace

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using testsupport::BuiltProgram;
using testsupport::ChildProcess;
using testsupport::ProgramRun;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::WriteFileBytes;

namespace {

// Names no other process on the machine carries, short enough for the kernel's
// 15-character process name.
std::string UniqueName(const char* prefix)
{
    static int counter = 0;
    return prefix + std::to_string(getpid()) + "x" + std::to_string(++counter);
}

std::string KernelName(pid_t pid)
{
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
    return name;
}

// Processes this test starts; whatever is still running at the end is killed.
class HaltwickTest : public ::testing::Test {
protected:
    // Starts a copy of `sleep` under `name`, or a script of that name.
    ChildProcess& StartNamed(const std::string& name, bool ignoreTerm = false, bool script = false)
    {
        const std::string path = m_dir / name;
        if (script) {
            WriteFileBytes(path, "#!/bin/sh\nwhile :; do sleep 1; done\n");
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        } else {
            std::filesystem::copy_file("/bin/sleep", path);
        }
        // An ignored signal stays ignored across exec.
        const std::vector<std::string> argv =
            ignoreTerm ? std::vector<std::string>{"/bin/sh", "-c", "trap '' TERM; exec \"$0\" 60", path}
                       : std::vector<std::string>{path, "60"};
        auto& child = *m_children.emplace_back(std::make_unique<ChildProcess>(argv));
        EXPECT_TRUE(WaitUntil([&] { return KernelName(child.pid()) == name; })) << name << " did not start";
        return child;
    }

    // The signal that ended the child, 0 while it still runs.
    static int EndedBy(ChildProcess& child)
    {
        if (child.Running()) {
            return 0;
        }
        return child.EndSignal() != 0 ? child.EndSignal() : -1;
    }

    ProgramRun Haltwick(const std::vector<std::string>& args,
                        const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        std::vector<std::string> argv{BuiltProgram("Haltwick")};
        argv.insert(argv.end(), args.begin(), args.end());
        // In the test's own session: the programs it starts must leave it.
        return RunProgram(argv, {.workDir = m_dir.path(), .env = env, .ownSession = false});
    }

    TempDir m_dir;
    std::vector<std::unique_ptr<ChildProcess>> m_children;
};

TEST_F(HaltwickTest, KillEndsOnlyTheNamedProgramWithOrWithoutExe)
{
    for (const char* suffix : {".exe", ""}) {
        const std::string target = UniqueName("hwk");
        const std::string bystander = UniqueName("hwb");
        ChildProcess& victim = StartNamed(target);
        ChildProcess& other = StartNamed(bystander);
        const ProgramRun run = Haltwick({"-k", target + suffix});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(EndedBy(victim), SIGTERM) << "-k " << target << suffix << " must have ended it, by SIGTERM";
        EXPECT_EQ(EndedBy(other), 0) << "a process of another name must keep running";
    }
}

TEST_F(HaltwickTest, KillFallsBackToSigkillWhenTerminationIsIgnored)
{
    const std::string name = UniqueName("hwi");
    ChildProcess& stubborn = StartNamed(name, true);
    const ProgramRun run = Haltwick({"-k", name + ".exe"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(EndedBy(stubborn), SIGKILL);
}

TEST_F(HaltwickTest, KillFindsAScriptByItsName)
{
    const std::string name = UniqueName("hws");
    ChildProcess& script = StartNamed(name, false, true);
    EXPECT_EQ(Haltwick({"-k", name + ".exe"}).exitCode, 0);
    EXPECT_EQ(EndedBy(script), SIGTERM);
}

// A program that reports its PID, its standard output, its session and its
// arguments, then keeps running.
void WriteReporter(const std::filesystem::path& path, const std::string& report, const std::string& label)
{
    WriteFileBytes(path, "#!/bin/sh\n"
                         "out=$(readlink /proc/$$/fd/1)\n"
                         "sid=$(cut -d' ' -f6 /proc/$$/stat)\n"
                         "{ printf '%s\\n' " + label + " $$ \"$out\" \"$sid\"; printf '%s\\n' \"$@\"; } > " +
                             report + ".partial\n"
                             "mv " + report + ".partial " + report + "\n"
                             "exec sleep 30\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(HaltwickTest, StartRunsTheProgramDetachedWithItsArguments)
{
    TempDir onPath;
    struct Case {
        const char* what;
        bool inWorkDir;
        bool onPath;
        bool fileHasExe;
        const char* expectedFrom;
    };
    const std::vector<Case> cases{
        {"found in the current directory without .exe", true, false, false, "workdir"},
        {"found on PATH", false, true, false, "path"},
        {"the current directory comes before PATH", true, true, false, "workdir"},
        {"a file carrying .exe is taken as given", true, false, true, "workdir"},
    };
    for (const Case& c : cases) {
        const std::string name = UniqueName("hwr");
        const std::string file = name + (c.fileHasExe ? ".exe" : "");
        const std::string report = m_dir / (name + ".report");
        if (c.inWorkDir) {
            WriteReporter(m_dir.path() / file, report, "workdir");
        }
        if (c.onPath) {
            WriteReporter(onPath.path() / file, report, "path");
        }
        const ProgramRun run = Haltwick({"-s", name + ".exe", "-nonupdate", "two words"},
                                        {{"PATH", onPath.path().string() + ":/usr/bin:/bin"}});
        ASSERT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(report); })) << c.what << ": never ran";

        const std::vector<std::string> lines = ReadLines(report);
        ASSERT_EQ(lines.size(), 6U) << c.what;
        const auto pid = static_cast<pid_t>(std::stol(lines[1]));
        EXPECT_EQ(lines[0], c.expectedFrom) << c.what;
        EXPECT_EQ(lines[2], "/dev/null") << c.what << ": output must be discarded";
        EXPECT_NE(std::stol(lines[3]), static_cast<long>(getsid(0))) << c.what << ": needs a session of its own";
        EXPECT_EQ(lines[4], "-nonupdate") << c.what;
        EXPECT_EQ(lines[5], "two words") << c.what;
        EXPECT_EQ(kill(pid, 0), 0) << c.what << ": Haltwick returned while the program still runs";
        kill(pid, SIGKILL);
    }
}

TEST_F(HaltwickTest, StartOfAMissingProgramFailsAndSaysSo)
{
    const std::string name = UniqueName("hwm") + ".exe";
    const ProgramRun run = Haltwick({"-s", name, "-nonupdate"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(name), std::string::npos) << "the message names the program: " << run.err;
}

}  // namespace

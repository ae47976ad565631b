// The platform services the update sequence relies on: named events, starting
// programs detached, the document opener and the installation lock.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/install_lock.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/script_tools.h"

using namespace std::chrono_literals;
using testsupport::TempDir;
using testsupport::U16;

namespace {

CString UniqueEventName(const char* what)
{
    return U16("morvex-test-" + std::to_string(getpid()) + "-" + what);
}

}  // namespace

TEST(NamedEvent, OpeningAnEventNobodyCreatedGivesNoHandleAndSignallingItDoesNothing)
{
    const CString name = UniqueEventName("missing");
    platform::DeleteEvent(name);
    platform::HEVENT event = platform::OpenEventW(name);
    EXPECT_EQ(event, nullptr) << "opening must not create the event";
    EXPECT_FALSE(platform::SetEvent(event));
    platform::CloseEventHandle(event);
    EXPECT_EQ(platform::OpenEventW(name), nullptr) << "the failed open must not have created it";
}

TEST(NamedEvent, APostThroughAnOpenedHandleReachesTheCreatorOnce)
{
    const CString name = UniqueEventName("posted");
    platform::DeleteEvent(name);
    platform::HEVENT created = platform::CreateEventW(name);
    ASSERT_NE(created, nullptr);
    platform::HEVENT opened = platform::OpenEventW(name);
    ASSERT_NE(opened, nullptr);

    EXPECT_FALSE(platform::WaitForEvent(created, 10ms)) << "nothing was posted yet";
    EXPECT_TRUE(platform::SetEvent(opened));
    platform::CloseEventHandle(opened);  // the post outlives the poster's handle
    EXPECT_EQ(platform::GetEventCount(created), 1);
    EXPECT_TRUE(platform::WaitForEvent(created, 1s));
    EXPECT_EQ(platform::GetEventCount(created), 0) << "the wait consumes the post";

    platform::CloseEventHandle(created);
    EXPECT_TRUE(platform::DeleteEvent(name));
    EXPECT_FALSE(platform::DeleteEvent(name));
}

TEST(CommandLine, SplitsAtBlanksAndKeepsQuotedRunsTogether)
{
    struct Row {
        const char16_t* line;
        std::vector<std::string> args;
    };
    const Row rows[] = {
        {u"-k Zentora.exe", {"-k", "Zentora.exe"}},
        {u"-s Quenby.exe -nonupdate", {"-s", "Quenby.exe", "-nonupdate"}},
        {u"  a \t b  ", {"a", "b"}},
        {u"", {}},
        {u"-s \"My Product.exe\" x", {"-s", "My Product.exe", "x"}},
        {u"\"\"", {""}},
        {u"路径 参数", {"路径", "参数"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::SplitCommandLine(row.line), row.args) << testsupport::U8(row.line);
    }
}

class ProgramStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = std::filesystem::current_path();
        std::filesystem::create_directories(m_dir.path() / "cwd");
        std::filesystem::create_directories(m_dir.path() / "install");
        std::filesystem::create_directories(m_dir.path() / "bin");
        std::filesystem::current_path(m_dir.path() / "cwd");
        m_path.emplace("PATH", testsupport::PathWithFirst(m_dir.path() / "bin"));
    }
    void TearDown() override
    {
        m_path.reset();
        std::filesystem::current_path(m_oldCwd);
    }
    // A program that appends "<where> <args>" to the log.
    void PlaceRecorder(const std::string& folder, const std::string& name, const std::string& where)
    {
        WriteScript(m_dir.path() / folder / name, "echo \"" + where + " $*\" >> '" + Log() + "'\n");
    }
    std::string Log() const { return (m_dir.path() / "log").string(); }

    TempDir m_dir;
    std::filesystem::path m_oldCwd;
    std::optional<testsupport::ScopedEnv> m_path;
};

TEST_F(ProgramStart, LooksInTheCurrentDirectoryThenTheProgramFolderThenPath)
{
    const CString installDir = U16((m_dir.path() / "install").string() + "/");
    PlaceRecorder("bin", "Haltwick", "path");
    ASSERT_TRUE(platform::ShellExecuteOpen(u"Haltwick", u"-k Quenby.exe", installDir));
    ASSERT_TRUE(WaitForLines(Log(), 1));

    PlaceRecorder("install", "Haltwick", "install");
    ASSERT_TRUE(platform::ShellExecuteOpen(u"Haltwick", u"-k Quenby.exe", installDir));
    ASSERT_TRUE(WaitForLines(Log(), 2));

    PlaceRecorder("cwd", "Haltwick", "cwd");
    ASSERT_TRUE(platform::ShellExecuteOpen(u"Haltwick", u"-s Quenby.exe -nonupdate", installDir));
    ASSERT_TRUE(WaitForLines(Log(), 3));

    EXPECT_EQ(ReadLines(Log()), (std::vector<std::string>{
                                    "path -k Quenby.exe", "install -k Quenby.exe",
                                    "cwd -s Quenby.exe -nonupdate"}));
}

TEST_F(ProgramStart, SkipsFilesThatCannotRunAndReportsAMissingProgram)
{
    testsupport::WriteFileBytes(m_dir.path() / "cwd" / "Haltwick", "not a program");
    std::filesystem::create_directories(m_dir.path() / "install" / "Haltwick");
    PlaceRecorder("bin", "Haltwick", "path");
    ASSERT_TRUE(platform::ShellExecuteOpen(u"Haltwick", u"x", U16((m_dir.path() / "install").string())));
    ASSERT_TRUE(WaitForLines(Log(), 1));
    EXPECT_EQ(ReadLines(Log()), std::vector<std::string>{"path x"});

    EXPECT_FALSE(platform::ShellExecuteOpen(u"NoSuchProgram", u"x", platform::Path()));
    EXPECT_FALSE(platform::StartDetached((m_dir.path() / "cwd" / "Haltwick").string(), {}))
        << "a file without execute permission cannot be started";
}

TEST_F(ProgramStart, ReturnsWithoutWaitingAndTheProgramInheritsNoLock)
{
    // The program holds on until the test lets it go, so a start that waited
    // for it would never return.
    const auto release = m_dir.path() / "release";
    const auto lockFile = U16((m_dir.path() / "install").string());
    platform::InstallLock lock;
    ASSERT_TRUE(lock.Acquire(lockFile));
    WriteScript(m_dir.path() / "bin" / "Lingerer",
                "echo \"started in $(pwd)\" >> '" + Log() + "'\n"
                "while [ ! -e '" + release.string() + "' ]; do sleep 0.05; done\n"
                "echo done >> '" + Log() + "'\n");
    ASSERT_TRUE(platform::ShellExecuteOpen(u"Lingerer", u"", platform::Path()));
    ASSERT_TRUE(WaitForLines(Log(), 1));
    EXPECT_EQ(ReadLines(Log()).front(), "started in " + (m_dir.path() / "cwd").string())
        << "the program runs in our current directory";

    lock.Release();
    platform::InstallLock second;
    EXPECT_TRUE(second.TryAcquire(lockFile)) << "the running program must not hold the lock";

    testsupport::WriteFileBytes(release, "");
    ASSERT_TRUE(WaitForLines(Log(), 2));
}

TEST_F(ProgramStart, OpensADocumentWithTheDesktopOpenerInTheCurrentDirectory)
{
    WriteScript(m_dir.path() / "bin" / "xdg-open", "echo \"$(pwd) $*\" >> '" + Log() + "'\n");
    ASSERT_TRUE(platform::OpenDocument(platform::Path("update.txt")));
    ASSERT_TRUE(WaitForLines(Log(), 1));
    EXPECT_EQ(ReadLines(Log()), std::vector<std::string>{(m_dir.path() / "cwd").string() + " update.txt"});

    const testsupport::ScopedEnv noOpener("PATH", (m_dir.path() / "install").string());
    EXPECT_FALSE(platform::OpenDocument(platform::Path("update.txt"))) << "no opener installed";
}

TEST(InstallLock, ASecondHolderWaitsUntilTheFirstReleases)
{
    TempDir dir;
    const CString path = U16(dir.path().string());
    platform::InstallLock first;
    ASSERT_TRUE(first.Acquire(path));
    EXPECT_TRUE(first.IsHeld());

    platform::InstallLock probe;
    EXPECT_FALSE(probe.TryAcquire(path)) << "the lock is exclusive";
    // An update may rename a new file over any name, earlier lock files included.
    testsupport::WriteFileBytes(dir / "replacement", "from the archive");
    std::filesystem::rename(dir / "replacement", dir / "MorvexUpdate.lock");
    EXPECT_FALSE(platform::InstallLock().TryAcquire(path)) << "no file written into the folder lets a second holder in";

    platform::InstallLock second;
    auto waiter = std::async(std::launch::async, [&] { return second.Acquire(path); });
    EXPECT_EQ(waiter.wait_for(200ms), std::future_status::timeout) << "Acquire must block while held";
    first.Release();
    first.Release();  // idempotent
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    EXPECT_TRUE(second.IsHeld());
}

TEST(InstallLock, AnotherProcessHoldingTheLockBlocksUsUntilItEnds)
{
    TempDir dir;
    const std::string path = dir.path().string();
    const std::string started = dir / "started";
    const std::string release = dir / "release";
    // flock(1) takes the same kind of lock from a separate process, and holds
    // it until the test lets it go.
    ASSERT_TRUE(platform::StartDetached(
        "/usr/bin/flock", {path, "-c", "touch '" + started + "'; while [ ! -e '" + release + "' ]; do sleep 0.05; done"}));
    ASSERT_TRUE(WaitForFile(started));
    platform::InstallLock lock;
    EXPECT_FALSE(lock.TryAcquire(U16(path)));
    testsupport::WriteFileBytes(release, "");
    EXPECT_TRUE(lock.Acquire(U16(path))) << "the lock is free once the other process ends";
}

TEST(InstallLock, AMissingFolderGivesNoLockInsteadOfWaiting)
{
    TempDir dir;
    platform::InstallLock lock;
    EXPECT_FALSE(lock.Acquire(U16(dir / "gone")));
    EXPECT_FALSE(lock.IsHeld());
}

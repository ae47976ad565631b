// The resident converter with the real office: each test has a runtime folder
// of its own (so its service is its own) and ends whatever service it started.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "page_checks.h"
#include "support/child_process.h"
#include "support/converter_service_scope.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/docvert/doc_converter.h"
#include "tools/docvert/service_link.h"

namespace {

namespace fs = std::filesystem;
using docvert::ConvertDocToHtml;
using docvert::DocConverterKind;
using docverttest::FixturePath;
using namespace std::chrono_literals;

using testsupport::WaitUntil;

class ConverterService : public ::testing::Test {
protected:
    ConverterService()
    {
        fs::permissions(m_runtime.path(), fs::perms::owner_all, fs::perm_options::replace);
        m_programs.service = DOCVERT_SERVICE_PROGRAM;
    }
    ~ConverterService() override
    {
        EXPECT_TRUE(testsupport::EndConverterService(m_runtime.path())) << "the test's service should end";
        // The folder goes once the service has ended (its office may write
        // into it until then).
        EXPECT_TRUE(WaitUntil([this] { return ServiceFolders() == 0; }))
            << "an ended service should take its profile along";
    }

    std::size_t ServiceFolders() const
    {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(m_tmp.path())) {
            if (entry.path().filename().string().rfind("docvertsvc-", 0) == 0) {
                ++count;
            }
        }
        return count;
    }

    std::string SocketPath() const { return docvert::ServiceSocketPath(); }

    bool ServiceRuns() const { return testsupport::ConverterServiceRuns(m_runtime.path()); }

    std::optional<pid_t> RunningPid() const
    {
        const int fd = docvert::ConnectToService(SocketPath());
        if (fd < 0) {
            return std::nullopt;
        }
        const std::optional<docvert::PeerIds> peer = docvert::PeerOf(fd);
        close(fd);
        return peer ? std::optional<pid_t>(peer->pid) : std::nullopt;
    }

    docvert::ServiceSettings Settings() const
    {
        docvert::ServiceSettings settings;
        settings.program = m_programs.service;
        return settings;
    }

    std::optional<docvert::DocConversion> Convert(const std::string& path) { return ConvertDocToHtml(path, m_programs); }

    testsupport::TempDir m_runtime;
    testsupport::TempDir m_tmp;
    testsupport::ScopedEnv m_runtimeEnv{"XDG_RUNTIME_DIR", m_runtime.path().string()};
    testsupport::ScopedEnv m_tmpEnv{"TMPDIR", m_tmp.path().string()};
    docvert::DocConverterPrograms m_programs;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ConverterService, StartsOnDemandAndServesLaterDocumentsFromTheSameProcess)
{
    EXPECT_FALSE(ServiceRuns());
    const std::optional<docvert::DocConversion> first = Convert(FixturePath("resume.doc"));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->by, DocConverterKind::Service);
    EXPECT_TRUE(Contains(first->html, "清华大学"));
    const std::optional<pid_t> pid = RunningPid();
    ASSERT_TRUE(pid.has_value()) << "the service should stay after the conversion";

    const std::optional<docvert::DocConversion> second = Convert(FixturePath("resume.doc"));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->by, DocConverterKind::Service);
    EXPECT_EQ(RunningPid(), pid) << "the second document should be converted by the same service";
    // Nothing of the conversions is left in the temporary folder but the service's own.
    for (const auto& entry : fs::directory_iterator(m_tmp.path())) {
        EXPECT_EQ(entry.path().filename().string().rfind("docvertsvc-", 0), 0u) << entry.path();
    }
}

// What a reader sees: the text without markup, the tables, the pictures.
std::string VisibleText(const std::string& html)
{
    std::string text;
    bool inTag = false;
    for (std::size_t i = std::min(html.find("<body"), html.size()); i < html.size(); ++i) {
        const char c = html[i];
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
            text.push_back(' ');
        } else if (!inTag) {
            const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
            if (!space || (!text.empty() && text.back() != ' ')) {
                text.push_back(space ? ' ' : c);
            }
        }
    }
    return text;
}

TEST_F(ConverterService, PagesHoldWhatTheOneShotPathGives)
{
    for (const char* name : {"resume.doc", "filename_field.doc"}) {
        SCOPED_TRACE(name);
        const std::optional<docvert::DocConversion> oneShot = ConvertDocToHtml(FixturePath(name));
        const std::optional<docvert::DocConversion> service = Convert(FixturePath(name));
        ASSERT_TRUE(oneShot.has_value() && service.has_value());
        EXPECT_EQ(oneShot->by, DocConverterKind::Office);
        EXPECT_EQ(service->by, DocConverterKind::Service);
        EXPECT_GT(VisibleText(oneShot->html).size(), 20u) << "the page should have text to compare";
        EXPECT_EQ(VisibleText(service->html), VisibleText(oneShot->html));
        const auto count = [](const std::string& html, const std::string& tag) {
            std::size_t n = 0;
            for (std::size_t at = html.find(tag); at != std::string::npos; at = html.find(tag, at + 1)) {
                ++n;
            }
            return n;
        };
        EXPECT_EQ(count(service->html, "<table"), count(oneShot->html, "<table"));
        EXPECT_EQ(docverttest::EmbeddedImagesOf(service->html), docverttest::EmbeddedImagesOf(oneShot->html));
        EXPECT_EQ(docverttest::LocalReferencesOf(service->html), std::vector<std::string>{});
    }
}

TEST_F(ConverterService, EndsAfterAQuietPeriodAndWhenTheSessionEnds)
{
    {
        testsupport::ScopedEnv idle("DOCVERT_SERVICE_IDLE_SECONDS", "1");
        ASSERT_TRUE(docvert::EnsureService(Settings()).has_value());
    }
    EXPECT_TRUE(WaitUntil([&] { return !ServiceRuns(); })) << "a quiet service should end by itself";

    ASSERT_TRUE(docvert::EnsureService(Settings()).has_value());
    // Logging out removes the runtime folder with the socket in it.
    fs::remove(SocketPath());
    EXPECT_TRUE(WaitUntil([&] { return !ServiceRuns(); })) << "the service should end with the session";

    ASSERT_TRUE(docvert::EnsureService(Settings()).has_value());
    const std::optional<pid_t> pid = RunningPid();
    ASSERT_TRUE(pid.has_value());
    kill(*pid, SIGHUP);
    EXPECT_TRUE(WaitUntil([&] { return !ServiceRuns(); })) << "a hang-up should end the service";
    EXPECT_FALSE(fs::exists(SocketPath())) << "the service should take its socket along";
}

TEST_F(ConverterService, ADocumentOverTheLimitCostsTheServiceAndTheNextGetsANewOne)
{
    // A service that never answers a conversion stands in for one on a
    // document that keeps the office busy past any limit.
    m_programs.service = STALLING_SERVICE_PROGRAM;
    ASSERT_TRUE(docvert::EnsureService(Settings()).has_value());
    const std::optional<pid_t> before = RunningPid();
    ASSERT_TRUE(before.has_value());
    m_programs.officeTimeLimit = 2s;

    EXPECT_FALSE(Convert(FixturePath("resume.doc")).has_value())
        << "a document over the limit should be a conversion error";
    EXPECT_TRUE(WaitUntil([&] { return !ServiceRuns(); })) << "the stalled service should be killed";

    m_programs.service = DOCVERT_SERVICE_PROGRAM;
    m_programs.officeTimeLimit = docvert::DocConverterPrograms{}.officeTimeLimit;

    const std::optional<docvert::DocConversion> next = Convert(FixturePath("resume.doc"));
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->by, DocConverterKind::Service);
    EXPECT_NE(RunningPid(), before);
}

TEST_F(ConverterService, WithoutAServiceTheOfficeRunsForTheDocumentAlone)
{
    // A runtime folder whose socket name no Unix socket can hold.
    const fs::path deep = m_runtime.path() / std::string(120, 'r');
    fs::create_directory(deep);
    fs::permissions(deep, fs::perms::owner_all, fs::perm_options::replace);
    const testsupport::ScopedEnv runtime("XDG_RUNTIME_DIR", deep.string());
    const std::optional<docvert::DocConversion> result = Convert(FixturePath("resume.doc"));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->by, DocConverterKind::Office);
    EXPECT_TRUE(Contains(result->html, "清华大学"));
}

TEST_F(ConverterService, AKilledServiceIsReplaced)
{
    const std::optional<pid_t> first = docvert::EnsureService(Settings());
    ASSERT_TRUE(first.has_value());
    kill(*first, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !ServiceRuns(); }));
    EXPECT_TRUE(fs::exists(SocketPath())) << "a killed service leaves its socket behind";

    const std::optional<docvert::DocConversion> next = Convert(FixturePath("resume.doc"));
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(next->by, DocConverterKind::Service);
    EXPECT_NE(RunningPid(), first);
    EXPECT_EQ(ServiceFolders(), 1u) << "the killed service's profile should be removed by the next one";
}

TEST_F(ConverterService, TwoViewersAtOnceShareOneService)
{
    std::optional<docvert::DocConversion> results[2];
    std::thread other([&] { results[1] = Convert(FixturePath("resume.doc")); });
    results[0] = Convert(FixturePath("filename_field.doc"));
    other.join();
    for (const auto& result : results) {
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->by, DocConverterKind::Service);
    }
    EXPECT_TRUE(Contains(results[1]->html, "清华大学"));
    EXPECT_FALSE(Contains(results[0]->html, "清华大学"));
}

// A python program to be run as the unprivileged user "nobody".
std::vector<std::string> AsNobody(const fs::path& folder, const std::string& program)
{
    static int count = 0;
    const std::string script = (folder / ("peer" + std::to_string(++count) + ".py")).string();
    testsupport::WriteFileBytes(script, program);
    fs::permissions(script, fs::perms::owner_all | fs::perms::others_read, fs::perm_options::replace);
    return {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/python3", script};
}

TEST_F(ConverterService, PeersOfAnotherUserAreRefusedBothWays)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a peer as another user";
    }
    // A folder the other user may use (the test's own are closed to others).
    char pattern[] = "/tmp/docvert-foreign-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path open(pattern);
    fs::permissions(open, fs::perms::all, fs::perm_options::replace);
    ASSERT_TRUE(docvert::EnsureService(Settings()).has_value());
    // Open the way to the socket, as a careless setup might: the service's own check must hold.
    fs::permissions(m_runtime.path(), fs::perms::owner_all | fs::perms::others_exec, fs::perm_options::replace);
    fs::permissions(SocketPath(), fs::perms::all, fs::perm_options::replace);
    const std::string ping = "import socket, sys\n"
                             "s = socket.socket(socket.AF_UNIX)\n"
                             "s.connect('" + SocketPath() + "')\n"
                             "try:\n    s.sendall(b'P'); answer = s.recv(1)\n"
                             "except OSError:\n    answer = b''\n"
                             "sys.exit(3 if answer else 0)\n";
    EXPECT_EQ(testsupport::RunAndWait(AsNobody(open, ping)), 0) << "another user's client should get no answer";
    EXPECT_TRUE(RunningPid().has_value()) << "the service should go on serving its own user";

    // A listener of another user where ours is expected gets no connection from us.
    const std::string foreign = (open / "s").string();
    const testsupport::ChildProcess listener(
        AsNobody(open, "import socket\ns = socket.socket(socket.AF_UNIX)\ns.bind('" + foreign +
                           "')\ns.listen(4)\ns.accept()\n"),
        {.stdoutFile = "/dev/null", .stderrFile = "/dev/null"});
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(foreign); }));
    EXPECT_EQ(docvert::ConnectToService(foreign), -1) << "a service of another user must not be used";
    fs::remove_all(open);
}

TEST_F(ConverterService, FilesOutsideTheClientsFolderAreRefused)
{
    ASSERT_TRUE(docvert::EnsureService(Settings()).has_value());
    testsupport::TempDir folder;
    fs::permissions(folder.path(), fs::perms::owner_all, fs::perm_options::replace);
    fs::create_symlink(FixturePath("resume.doc"), folder / "link.doc");
    fs::copy_file(FixturePath("resume.doc"), folder / "resume.doc");
    const docvert::ServiceSettings settings = Settings();
    EXPECT_EQ(docvert::ConvertWithService(settings, folder / "link.doc", folder / "a.html"),
              docvert::ServiceOutcome::Refused) << "a link must not be followed";
    EXPECT_EQ(docvert::ConvertWithService(settings, FixturePath("resume.doc"), folder / "b.html"),
              docvert::ServiceOutcome::Refused) << "input and output must share the client's folder";
    fs::create_symlink(m_tmp / "elsewhere.html", folder / "c.html");
    EXPECT_EQ(docvert::ConvertWithService(settings, folder / "resume.doc", folder / "c.html"),
              docvert::ServiceOutcome::Refused) << "the output must be a new file, not a link";
    EXPECT_FALSE(fs::exists(m_tmp / "elsewhere.html"));
    EXPECT_EQ(docvert::ConvertWithService(settings, folder / "resume.doc", folder / "d.html"),
              docvert::ServiceOutcome::Converted);
}

}  // namespace

#include "support/install_scene.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/child_process.h"
#include "support/script_tools.h"

namespace testsupport {

std::string PublishTool() { return MORVEX_BINARY_DIR "/bin/morvex-publish"; }

InstallScene::InstallScene(const InstallSceneOptions& options) : m_options(options)
{
    for (const auto& folder : {WorkDir(), Bin(), Root() / "server", Content(), Install()}) {
        std::filesystem::create_directories(folder);
    }
    WriteScript(ProcessControl(), "echo \"$*\" >> '" + (Root() / "haltwick.log").string() + "'\n");
    SetOpener("exit 0\n");

    m_oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(WorkDir());
    m_path.emplace("PATH", PathWithFirst(Bin()));
}

InstallScene::~InstallScene()
{
    m_path.reset();
    std::filesystem::current_path(m_oldCwd);
}

std::filesystem::path InstallScene::ServerFolder() const
{
    return Root() / "server" / "update" / m_options.productCode;
}

void InstallScene::StartServer(const FtpServerOptions& options)
{
    m_server = std::make_unique<FtpServer>(Root() / "server", options);
}

void InstallScene::Publish(const std::string& installedVersion, const std::string& offeredVersion,
                           const std::vector<std::string>& extraArguments, bool tls)
{
    if (!m_server) {
        StartServer(m_options.server);
    }
    std::vector<std::string> login = {"--host", m_server->hostPort(), "--user", m_server->user(),
                                      "--password", m_server->password()};
    if (tls) {
        login.emplace_back("--tls");
    }
    std::vector<std::string> server = {PublishTool(), "server", "--code", m_options.productCode,
                                       "--version", offeredVersion, "--update-dir", Content().string(),
                                       "--out", (Root() / "server").string()};
    server.insert(server.end(), login.begin(), login.end());
    server.insert(server.end(), extraArguments.begin(), extraArguments.end());
    EXPECT_EQ(RunAndWait(server), 0) << "publishing the update failed";
    std::vector<std::string> installed = {PublishTool(), "installed", "--code", m_options.productCode,
                                          "--version", installedVersion, "--out", Install().string()};
    installed.insert(installed.end(), login.begin(), login.end());
    EXPECT_EQ(RunAndWait(installed), 0) << "writing the installed manifest failed";
}

void InstallScene::RunSql(const std::string& sql) const
{
    EXPECT_EQ(RunAndWait({MORVEX_PYTHON, "-c",
                          "import sqlite3, sys\n"
                          "c = sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); c.commit()",
                          (Install() / "jo_db_local.db").string(), sql}),
              0)
        << sql;
}

void InstallScene::SetOpener(const std::string& body) const
{
    WriteScript(Bin() / "xdg-open", body);
}

std::vector<std::string> InstallScene::ProcessControlCalls() const
{
    EXPECT_TRUE(WaitUntilNotRunning(ProcessControl()));
    return ReadLines(Root() / "haltwick.log");
}

void InstallScene::ForgetProcessControlCalls() const
{
    WaitUntilNotRunning(ProcessControl());
    std::filesystem::remove(Root() / "haltwick.log");
}

}  // namespace testsupport

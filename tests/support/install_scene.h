// An installation of the product beside a real local FTP server that offers
// an update of it, as the updater's suites build it: the installed manifest
// and database, the update's content published by the real publishing tool,
// and stand-ins for the process-control program and the document opener on
// PATH. While the scene lives the current directory is WorkDir() and PATH
// starts with its "bin" folder.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ftp_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace testsupport {

struct InstallSceneOptions {
    std::string productCode = "zt_e";
    // The installation's folder name below the scene's root.
    std::string installFolder = "install";
    testsupport::FtpServerOptions server;
};

class InstallScene {
public:
    explicit InstallScene(const InstallSceneOptions& options = {});
    ~InstallScene();
    InstallScene(const InstallScene&) = delete;
    InstallScene& operator=(const InstallScene&) = delete;

    std::filesystem::path Root() const { return m_root.path(); }
    std::filesystem::path Install() const { return m_root.path() / m_options.installFolder; }
    // What the update brings, laid out as it is installed; filled by the suite
    // before Publish().
    std::filesystem::path Content() const { return m_root.path() / "content"; }
    std::filesystem::path ServerFolder() const;  // .../update/<code>
    std::filesystem::path WorkDir() const { return m_root.path() / "cwd"; }
    std::filesystem::path Bin() const { return m_root.path() / "bin"; }
    std::filesystem::path ProcessControl() const { return Bin() / "Haltwick"; }

    // Starts the FTP server over the scene's server folder (before Publish).
    void StartServer(const FtpServerOptions& options);
    FtpServer& Server() { return *m_server; }

    // Publishes Content() as `offeredVersion` (the publishing tool's "server"
    // command with `extraArguments`, e.g. "--sign") and writes the installed
    // manifest of `installedVersion`; fails the test when either fails.
    // `tls`: the server is reached over TLS.
    void Publish(const std::string& installedVersion, const std::string& offeredVersion,
                 const std::vector<std::string>& extraArguments = {}, bool tls = false);

    // Runs SQL (UTF-8) on the installation's "jo_db_local.db", creating it.
    void RunSql(const std::string& sql) const;

    // Replaces the document opener stand-in's body (by default it does nothing).
    void SetOpener(const std::string& body) const;

    // The process-control program's command lines so far, in order, once no
    // stand-in runs any more.
    std::vector<std::string> ProcessControlCalls() const;
    // Forgets them.
    void ForgetProcessControlCalls() const;

private:
    InstallSceneOptions m_options;
    TempDir m_root;
    std::unique_ptr<FtpServer> m_server;
    std::filesystem::path m_oldCwd;
    std::optional<ScopedEnv> m_path;
};

// The publishing tool's path in the build.
std::string PublishTool();

}  // namespace testsupport

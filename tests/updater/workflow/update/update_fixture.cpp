#include "updater/workflow/update/update_fixture.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/codepage.h"
#include "platform/named_event.h"
#include "support/temp_dir.h"
#include "updater/workflow/manifest.h"
#include "support/script_tools.h"

using testsupport::U16;
using testsupport::U8;

namespace {

// Incompressible, so that the archive is large enough for the download to
// report progress several times and for faults to strike in its middle.
std::string PseudoRandomBytes(std::size_t size)
{
    std::mt19937 generator(20240607);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

}  // namespace

UpdateScene::UpdateScene(const UpdateSceneOptions& options) : m_scene(options)
{
    static std::atomic<int> counter{0};
    m_eventName = U16("morvex-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    g_hProgressWnd = nullptr;

    const auto content = m_scene.Content();
    std::filesystem::create_directories(content / "ini");
    std::filesystem::create_directories(content / "docs");
    testsupport::FtpServerOptions serverOptions = options.server;
    if (options.tls) {
        MakeCertificate(TlsFolder());
        serverOptions.tlsCertificate = (TlsFolder() / "cert.pem").string();
        serverOptions.tlsKey = (TlsFolder() / "key.pem").string();
        std::filesystem::copy_file(TlsFolder() / "cert.pem", Install() / "MorvexUpdate.ca.pem");
    }
    m_scene.StartServer(serverOptions);

    if (!options.scriptUtf8.empty()) {
        testsupport::WriteFileBytes(content / "ini" / "update.sql",
                                    platform::Utf16ToAnsi(U16(options.scriptUtf8)));
    }
    testsupport::WriteFileBytes(content / "docs" / "readme.txt", "version " + options.offeredVersion);
    testsupport::WriteFileBytes(content / "payload.bin", PseudoRandomBytes(1 << 20));
    if (!options.newPublicKey.empty()) {
        testsupport::WriteFileBytes(content / "MorvexUpdate.pub", options.newPublicKey);
    }
    if (options.zeroFileBytes > 0) {
        testsupport::WriteFileBytes(content / "zeros.bin", std::string(options.zeroFileBytes, '\0'));
    }
    std::vector<std::string> signing;
    if (options.signedUpdate) {
        EXPECT_EQ(RunAndWait({PublishTool(), "keygen", "--out", KeysFolder().string(), "--no-password"}), 0);
        std::filesystem::copy_file(KeysFolder() / "MorvexUpdate.pub", Install() / "MorvexUpdate.pub");
        signing = {"--sign", (KeysFolder() / "MorvexUpdate.key").string()};
    }
    m_scene.Publish(options.installedVersion, options.offeredVersion, signing, options.tls);
    m_scene.RunSql("CREATE TABLE people(name TEXT); INSERT INTO people VALUES('老员工');");
    for (const char* name : {"d", "i", "l", "r", "t", "u"}) {
        std::filesystem::create_directory(WorkDir() / name);
    }
    m_scene.SetOpener("echo \"$(pwd) $*\" >> '" + (m_scene.Root() / "opened.log").string() + "'\n");
}

UpdateScene::~UpdateScene()
{
    g_hProgressWnd = nullptr;
    platform::DeleteEvent(m_eventName);
}

void UpdateScene::SetInstalledSetting(const std::string& section, const std::string& key, const std::string& value)
{
    std::string text = testsupport::ReadFileBytes(Install() / "version.ini");
    const std::string header = "[" + section + "]\r\n";
    text.insert(text.find(header) + header.size(), key + "=" + value + "\r\n");
    testsupport::WriteFileBytes(Install() / "version.ini", text);
}

void MakeCertificate(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    EXPECT_EQ(RunAndWait({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                          "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                          (folder / "key.pem").string(), "-out", (folder / "cert.pem").string()}),
              0);
}

std::unique_ptr<CMyUpdateDlg> UpdateScene::MakeDialog()
{
    auto dlg = std::make_unique<CMyUpdateDlg>(m_transfer, U16((Install() / "MorvexUpdate").string()));
    dlg->m_strEventName = m_eventName;
    return dlg;
}

void UpdateScene::RunToTheEnd(CMyUpdateDlg& dlg)
{
    dlg.OnInitDialog();
    if (dlg.HasEnded()) {
        return;
    }
    dlg.AttachWindow(&m_window);
    ASSERT_TRUE(dlg.WaitForWorker(std::chrono::minutes(2))) << "the update sequence did not finish";
    m_window.DeliverPosted(dlg);
}

std::vector<std::string> UpdateScene::OpenedDocuments() const
{
    EXPECT_TRUE(WaitUntilNotRunning(m_scene.Bin() / "xdg-open"));
    return ReadLines(m_scene.Root() / "opened.log");
}

std::vector<std::string> UpdateScene::PeopleInDatabase() const
{
    std::vector<std::string> people;
    sqlite3* connection = nullptr;
    if (sqlite3_open_v2((Install() / "jo_db_local.db").c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(connection, "SELECT name FROM people ORDER BY rowid", -1, &statement, nullptr) ==
            SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                people.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(connection);
    return people;
}

std::string UpdateScene::InstalledVersion() const
{
    return U8(ReadManifestVersion(U16((Install() / "version.ini").string())));
}

std::size_t UpdateScene::WorkDirectoryCount() const
{
    std::size_t present = 0;
    for (const char* name : {"d", "i", "l", "r", "t", "u"}) {
        present += std::filesystem::is_directory(WorkDir() / name) ? 1u : 0u;
    }
    return present;
}

namespace {

std::atomic<int> g_refusedLocks{0};
sqlite3_syscall_ptr g_realFcntl = nullptr;

// SQLite's unix layer calls fcntl through a table that may be replaced.
int CountingFcntl(int fd, int op, ...)
{
    const auto real = reinterpret_cast<int (*)(int, int, ...)>(g_realFcntl);
    std::va_list args;
    va_start(args, op);
    int result = 0;
    if (op == F_SETLK || op == F_SETLKW || op == F_GETLK) {
        result = real(fd, op, va_arg(args, struct flock*));
        g_refusedLocks += op == F_SETLK && result != 0 && (errno == EAGAIN || errno == EACCES) ? 1 : 0;
    } else {
        result = real(fd, op, va_arg(args, int));
    }
    va_end(args);
    return result;
}

}  // namespace

HeldDatabase::HeldDatabase(const std::filesystem::path& db)
{
    // BEGIN IMMEDIATE takes the write lock at once; others may still read.
    testsupport::WriteFileBytes(m_work.path() / "hold.py",
                                "import os, sqlite3, sys, time\n"
                                "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                "c.execute('BEGIN IMMEDIATE')\n"
                                "open(sys.argv[3], 'w').close()\n"
                                "while not os.path.exists(sys.argv[2]):\n"
                                "    time.sleep(0.01)\n");
    m_holder = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", (m_work.path() / "hold.py").string(), db.string(),
                                 (m_work.path() / "release").string(), (m_work.path() / "held").string()});
    if (!m_holder->Started() || !WaitForFile(m_work.path() / "held")) {
        Release();
    }
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    g_refusedLocks = 0;
    g_realFcntl = vfs->xGetSystemCall(vfs, "fcntl");
    vfs->xSetSystemCall(vfs, "fcntl", reinterpret_cast<sqlite3_syscall_ptr>(CountingFcntl));
}

HeldDatabase::~HeldDatabase()
{
    Release();
    sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    vfs->xSetSystemCall(vfs, "fcntl", g_realFcntl);
}

bool HeldDatabase::WaitForAWaiter() const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (g_refusedLocks == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return g_refusedLocks > 0;
}

void HeldDatabase::Release()
{
    if (m_holder != nullptr) {
        testsupport::WriteFileBytes(m_work.path() / "release", "");
        m_holder->WaitForExit();  // the process ends, and its lock with it
        m_holder.reset();
    }
}

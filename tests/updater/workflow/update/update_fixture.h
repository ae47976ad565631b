// A whole update scene on real files: an installation with its manifest and
// database, a real FTP server offering an update made by the publishing tool,
// stand-ins for the process-control program and the document opener on PATH,
// and a headless window that records what the dialog's logic asks of it.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/install_scene.h"
#include "support/temp_dir.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/workflow/update_dlg.h"
#include "updater/workflow/update/recording_window.h"

// The installation's options (product code, folder, server) and the update's.
struct UpdateSceneOptions : testsupport::InstallSceneOptions {
    std::string installedVersion = "1.0.0.1";
    std::string offeredVersion = "1.0.0.12";
    // ANSI (code page 936) bytes of the update's "ini/update.sql"; empty: none.
    std::string scriptUtf8 = "INSERT INTO people VALUES('新同事');";
    // A file "zeros.bin" of this many zero bytes in the update (it packs to
    // almost nothing); 0: none.
    std::size_t zeroFileBytes = 0;
    // Published with --sign by a fresh key pair (KeysFolder(), no password)
    // whose public key is installed beside the program.
    bool signedUpdate = false;
    // Served over FTP with TLS only (a certificate made for the scene in
    // TlsFolder(), installed as "MorvexUpdate.ca.pem"); both manifests say tls=1.
    bool tls = false;
    // Not empty: the update brings this file as its "MorvexUpdate.pub".
    std::string newPublicKey;
};

class UpdateScene {
public:
    explicit UpdateScene(const UpdateSceneOptions& options = {});
    ~UpdateScene();

    std::filesystem::path Install() const { return m_scene.Install(); }
    std::filesystem::path ServerFolder() const { return m_scene.ServerFolder(); }  // .../update/<code>
    // What the update brings, laid out as it is installed.
    std::filesystem::path Content() const { return m_scene.Content(); }
    std::filesystem::path WorkDir() const { return m_scene.WorkDir(); }
    std::filesystem::path ProcessControl() const { return m_scene.ProcessControl(); }
    // MorvexUpdate.pub and MorvexUpdate.key of a signed update.
    std::filesystem::path KeysFolder() const { return m_scene.Root() / "keys"; }
    // cert.pem and key.pem of a TLS scene.
    std::filesystem::path TlsFolder() const { return m_scene.Root() / "tls"; }

    // Adds key=value to a section of the installed manifest.
    void SetInstalledSetting(const std::string& section, const std::string& key, const std::string& value);

    // Makes a dialog over the installation, as the program at Install()/MorvexUpdate.
    std::unique_ptr<CMyUpdateDlg> MakeDialog();
    // OnInitDialog, then (update due) the window attached and the worker awaited.
    void RunToTheEnd(CMyUpdateDlg& dlg);

    // The stand-ins' records, complete once no stand-in runs any more.
    std::vector<std::string> ProcessControlCalls() const { return m_scene.ProcessControlCalls(); }
    std::vector<std::string> OpenedDocuments() const;

    std::vector<std::string> PeopleInDatabase() const;
    std::string InstalledVersion() const;
    // How many of the six folders "d" "i" "l" "r" "t" "u" exist in WorkDir().
    std::size_t WorkDirectoryCount() const;

    testsupport::FtpServer& Server() { return m_scene.Server(); }
    CFtpTransfer_Curl& Transfer() { return m_transfer; }
    CRecordingWindow& Window() { return m_window; }
    const CString& EventName() const { return m_eventName; }

private:
    testsupport::InstallScene m_scene;
    CFtpTransfer_Curl m_transfer;
    CRecordingWindow m_window;
    CString m_eventName;
};

using testsupport::PublishTool;

// A self-signed certificate for 127.0.0.1: cert.pem and key.pem in `folder`.
void MakeCertificate(const std::filesystem::path& folder);

// Another process (the product, still shutting down) holds a write lock on a
// database from the constructor until Release(). Meanwhile the lock requests
// that SQLite in this process makes and the kernel refuses are counted, to
// tell when a statement here has started waiting.
class HeldDatabase {
public:
    explicit HeldDatabase(const std::filesystem::path& db);
    ~HeldDatabase();
    HeldDatabase(const HeldDatabase&) = delete;
    HeldDatabase& operator=(const HeldDatabase&) = delete;

    bool held() const { return m_holder != nullptr; }
    // Waits (up to 60 s) until a lock request of this process was refused.
    bool WaitForAWaiter() const;
    void Release();

private:
    testsupport::TempDir m_work;
    std::unique_ptr<testsupport::ChildProcess> m_holder;
};

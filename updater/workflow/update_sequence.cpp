// The update sequence on the worker thread: stop the product, download and
// unpack the archive, patch the database, tell the user, restart the product.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "platform/process.h"
#include "transfer/ftp_transfer.h"
#include "updater/install/ansi_text.h"
#include "updater/install/update_db.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"
#include "updater/workflow/update_journal.h"
#include "updater/workflow/update_signature.h"

namespace {

// The product family's process-control program, by its Windows name without
// ".exe"; looked up in the current directory, the installation directory and
// on PATH.
constexpr char16_t kProcessControl[] = u"Haltwick";

constexpr char16_t kDatabaseFile[] = u"jo_db_local.db";
// Relative to the current directory, like the release notes.
constexpr char16_t kReleaseNotes[] = u"update.txt";
constexpr const char16_t* kWorkDirectories[] = {u"d", u"i", u"l", u"r", u"t", u"u"};

constexpr char16_t kStatusDownloading[] = u"正在下载新版本...";
constexpr char16_t kStatusInstalling[] = u"下载完成，正在安装...";
constexpr char16_t kStatusDone[] = u"您的程序已经升级为最新版本!";
constexpr char16_t kCaptionFailed[] = u"升级失败";
constexpr char16_t kCaptionSucceeded[] = u"升级成功";
constexpr char16_t kTextPatchFailed[] = u"数据库更新失败：";
constexpr char16_t kTextDownloadFailed[] = u"升级包下载或解压失败，请稍后再试！";
constexpr char16_t kTextNotVerified[] = u"升级包无法验证，未做任何更改，请稍后再试！";
constexpr char16_t kTextSucceeded[] = u"您已经成功升级到最新版本";
constexpr char16_t kTextNotRestored[] = u"升级失败，安装未能完全恢复，下次启动时将继续恢复。";
// The journal could not be written: the update did not start, or was undone.
constexpr char16_t kTextJournalFailed[] = u"升级记录无法写入，程序未升级，请检查安装目录后再试！";
// Follows kTextPatchFailed when the database could not be kept aside.
constexpr char16_t kTextDatabaseNotKept[] = u"数据库备份失败！";

void RemoveWorkDirectories()
{
    // Only empty ones go; the rest stay as they are.
    for (const char16_t* name : kWorkDirectories) {
        platform::RemoveDirectoryW(platform::ToPath(name));
    }
}

struct PatchOutcome {
    bool patched = false;
    CString error;  // for the failure message
};

// Runs the script with the database kept in the journal first; undoing a
// failed patch is the journal's roll back.
PatchOutcome PatchWithJournal(const CString& installDir, CUpdateJournal& journal, int busyTimeoutMs)
{
    PatchOutcome outcome;
    // Paths stay in the file system's own encoding: an installation folder the
    // ANSI code page cannot spell must still lead to its script and database.
    const std::string dbPath = platform::Utf16ToUtf8(installDir + kDatabaseFile);

    if (platform::PathExists(installDir + UPDATE_SCRIPT_FILE)) {
        std::string error;
        if (!journal.KeepDatabase(dbPath, &error)) {
            // Without a copy a failing script could not be undone: don't run it.
            std::fprintf(stderr, "MorvexUpdate: the database could not be kept aside: %s\n", error.c_str());
            outcome.error = kTextDatabaseNotKept;
            return outcome;
        }
    }
    outcome.patched = PatchLocalDatabase(platform::ToPath(installDir + kDatabaseFile),
                                         platform::ToPath(installDir + UPDATE_SCRIPT_FILE), busyTimeoutMs);
    CUpdateJournal::Checkpoint();
    if (!outcome.patched) {
        outcome.error = AnsiToCString(GetLastDBError());
    }
    return outcome;
}

}  // namespace

unsigned CMyUpdateDlg::UpdateWorker(void* param)
{
    auto* dlg = static_cast<CMyUpdateDlg*>(param);
    const ProductInfo& product = GetProductInfo(dlg->m_nProduct);

    // Nothing is changed that the journal could not undo, and the product is
    // not stopped before a record on disk says which product to start again.
    if (!dlg->m_journal.Begin(dlg->m_strInstallDir, dlg->m_nProduct) || !dlg->NoteRestartDue()) {
        dlg->m_journal.RollBack();
        dlg->MessageBox(kTextJournalFailed, kCaptionFailed);
        dlg->m_bCancelLocked = false;
        return 0;  // the product was never stopped
    }
    // The stop request runs alongside the download; nothing waits for it.
    platform::ShellExecuteOpen(kProcessControl, CString(u"-k ") + product.program, dlg->m_strInstallDir);

    if (const CString failure = dlg->DownloadAndUnpack(); !failure.empty()) {
        dlg->ReportFailedDownload(failure);
        return 0;
    }
    dlg->SetStatusText(kStatusInstalling);
    dlg->InstallUpdate();
    return 0;
}

CString CMyUpdateDlg::DownloadAndUnpack()
{
    const CString archivePath = m_strInstallDir + UPDATE_ARCHIVE_FILE;
    const CString remotePath = RemoteUpdateUrl(g_strFtpServer, m_nProduct, UPDATE_ARCHIVE_FILE);
    SetStatusText(kStatusDownloading);

    // A download appends to what the file holds: an archive left by an
    // interrupted run would corrupt this one.
    platform::DeleteFileW(archivePath);
    g_hProgressWnd = m_pWindow != nullptr ? m_pWindow->GetSafeHwnd() : nullptr;
    CDownloadDigest digest;
    g_pDownloadObserver = &digest;
    const bool downloaded = m_transfer.DownloadFile(remotePath, archivePath) != FALSE;
    g_pDownloadObserver = nullptr;
    CUpdateJournal::Checkpoint();
    CString failure;
    if (!downloaded) {
        failure = kTextDownloadFailed;
    } else if (!VerifyArchive(remotePath, archivePath, digest.DigestOf(archivePath))) {
        failure = kTextNotVerified;
    } else if (!m_journal.SetPhase(JournalPhase::Unpacking)) {
        failure = kTextJournalFailed;
    } else if (!UnpackArchive(archivePath, m_strInstallDir, &m_journal)) {
        failure = kTextDownloadFailed;
    }
    platform::DeleteFileW(archivePath);
    CUpdateJournal::Checkpoint();
    return failure;
}

void CMyUpdateDlg::ReportFailedDownload(const CString& failure)
{
    // Every file gets its old content back and the fetched manifest goes, so
    // the old product can run and the next start offers the update again.
    // A roll back that could not finish keeps its journal for the next start.
    const bool restored = m_journal.RollBack();
    MessageBox(restored ? failure : CString(kTextNotRestored), kCaptionFailed);
    // Started before closing is allowed: a quick close must not end the
    // process before the start request is out.
    RestartProduct();
    m_bCancelLocked = false;
}

bool CMyUpdateDlg::VerifyArchive(const CString& remotePath, const CString& archivePath,
                                 const std::optional<minisign::Digest>& digest)
{
    // The key read by the check: the worker only runs after it, and an update
    // never replaces the key file before this point.
    std::string why;
    if (VerifyDownload(m_pinnedKey, m_transfer, remotePath, archivePath,
                       ExpectedTrustedComment(m_nProduct, g_strNewVersion, UPDATE_ARCHIVE_FILE),
                       digest ? &*digest : nullptr, &why)) {
        return true;
    }
    ReportVerificationFailure("the update package is not verified, nothing was installed", why);
    return false;
}

void CMyUpdateDlg::InstallUpdate()
{
    const bool patching = m_journal.SetPhase(JournalPhase::Patching);
    const PatchOutcome outcome =
        patching ? PatchWithJournal(m_strInstallDir, m_journal, m_nDbBusyTimeoutMs) : PatchOutcome{};
    // The commit point: once it is recorded, a crash finishes the update
    // instead of undoing it.
    if (!outcome.patched || !m_journal.SetPhase(JournalPhase::Committed)) {
        // The whole old installation comes back, database included, so the
        // old product can run again.
        const bool restored = m_journal.RollBack();
        // The script goes on failure, as after success, even when the
        // installation held one before the update: the roll back put it back.
        platform::DeleteFileW(m_strInstallDir + UPDATE_SCRIPT_FILE);
        if (!restored) {
            MessageBox(kTextNotRestored, kCaptionFailed);
        } else if (!patching || outcome.patched) {
            MessageBox(kTextJournalFailed, kCaptionFailed);
        } else {
            MessageBox(kTextPatchFailed + outcome.error, kCaptionFailed);
        }
        RemoveWorkDirectories();
        // Started before closing is allowed (see ReportFailedDownload).
        RestartProduct();
        m_bCancelLocked = false;
        return;  // the user closes the dialog
    }

    platform::DeleteFileW(m_strInstallDir + UPDATE_SCRIPT_FILE);
    SetStatusText(kStatusDone);
    // Until the new manifest is in place the journal stays: the next start
    // commits it instead of offering the update again over the patched database.
    if (CommitNewManifest(m_strInstallDir)) {
        m_journal.Finish();
    }
    MessageBox(kTextSucceeded + g_strNewVersion + u"!", kCaptionSucceeded);
    platform::OpenDocument(platform::ToPath(kReleaseNotes));
    RestartProduct();
    if (m_nProduct != PRODUCT_QUENBY) {
        RemoveWorkDirectories();
    }
    EndDialog(IDCANCEL);
}

void CMyUpdateDlg::RestartProduct()
{
    const ProductInfo& product = GetProductInfo(m_nProduct);
    // Until the start request is out, the record makes the next start send it.
    if (platform::ShellExecuteOpen(kProcessControl, CString(u"-s ") + product.program + u" -nonupdate",
                                   m_strInstallDir)) {
        platform::DeleteFileW(m_strInstallDir + UPDATE_RESTART_FILE);
    }
}

bool CMyUpdateDlg::NoteRestartDue()
{
    return platform::WriteFileDurably(m_strInstallDir + UPDATE_RESTART_FILE,
                                      "product=" + std::to_string(m_nProduct) + "\n");
}

bool ReadRestartRecord(const CString& installDir, std::int32_t* product)
{
    std::ifstream in(platform::NativePath(installDir + UPDATE_RESTART_FILE));
    if (!in) {
        return false;
    }
    std::string line;
    std::getline(in, line);
    *product = line.rfind("product=", 0) == 0 ? static_cast<std::int32_t>(std::atoi(line.c_str() + 8))
                                                : PRODUCT_ZENTORA_P;
    return true;
}

void CMyUpdateDlg::SetStatusText(const CString& text)
{
    if (m_pWindow != nullptr) {
        m_pWindow->SetControlText(IDC_STATIC_STATUS, text);
    }
}

void CMyUpdateDlg::MessageBox(const CString& text, const CString& caption)
{
    if (m_pWindow != nullptr) {
        m_pWindow->MessageBox(text, caption);
    }
}

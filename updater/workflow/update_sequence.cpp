// The update sequence on the worker thread: stop the product, download and
// unpack the archive, patch the database, tell the user, restart the product.
#include <exception>
#include <string>

#include "platform/codepage.h"
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

void RemoveWorkDirectories()
{
    // Only empty ones go; the rest stay as they are.
    for (const char16_t* name : kWorkDirectories) {
        platform::RemoveDirectoryW(name);
    }
}

struct PatchOutcome {
    bool patched = false;
    CString error;  // for the failure message
};

// Runs the script with the database kept in the journal first; undoing a
// failed patch is the journal's roll back.
PatchOutcome PatchWithJournal(const CString& installDir, CUpdateJournal& journal)
{
    PatchOutcome outcome;
    const CString scriptPath = installDir + UPDATE_SCRIPT_FILE;
    const CString dbPath = installDir + kDatabaseFile;
    std::string dbUtf8;
    try {
        dbUtf8 = AnsiToUtf8(CStringToAnsi(dbPath));
    } catch (const std::exception& error) {
        outcome.error = platform::Utf8ToUtf16(error.what());
        return outcome;
    }

    if (platform::PathExists(scriptPath)) {
        std::string error;
        if (!journal.KeepDatabase(dbUtf8, &error)) {
            // Without a copy a failing script could not be undone: don't run it.
            outcome.error = platform::Utf8ToUtf16(error);
            return outcome;
        }
    }
    outcome.patched = PatchLocalDatabase(dbUtf8, CStringToAnsi(scriptPath));
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

    // The stop request runs alongside the download; nothing waits for it.
    platform::ShellExecuteOpen(kProcessControl, CString(u"-k ") + product.program, dlg->m_strInstallDir);

    if (!dlg->DownloadAndUnpack()) {
        dlg->ReportFailedDownload();
        return 0;
    }
    dlg->SetStatusText(kStatusInstalling);
    dlg->InstallUpdate();
    return 0;
}

bool CMyUpdateDlg::DownloadAndUnpack()
{
    const CString archivePath = m_strInstallDir + UPDATE_ARCHIVE_FILE;
    const CString remotePath = RemoteUpdateUrl(g_strFtpServer, m_nProduct, UPDATE_ARCHIVE_FILE);
    SetStatusText(kStatusDownloading);

    // Nothing is changed that the journal could not undo.
    if (!m_journal.Begin(m_strInstallDir, m_nProduct)) {
        return false;
    }
    // A download appends to what the file holds: an archive left by an
    // interrupted run would corrupt this one.
    platform::DeleteFileW(archivePath);
    g_hProgressWnd = m_pWindow != nullptr ? m_pWindow->GetSafeHwnd() : nullptr;
    CDownloadDigest digest;
    g_pDownloadObserver = &digest;
    const bool downloaded = m_transfer.DownloadFile(remotePath, archivePath) != FALSE;
    g_pDownloadObserver = nullptr;
    CUpdateJournal::Checkpoint();
    m_bPackageUnverified = downloaded && !VerifyArchive(remotePath, archivePath, digest.DigestOf(archivePath));
    const bool unpacked =
        downloaded && !m_bPackageUnverified && m_journal.SetPhase(JournalPhase::Unpacking) && UnpackArchive(archivePath, m_strInstallDir, &m_journal);
    platform::DeleteFileW(archivePath);
    CUpdateJournal::Checkpoint();
    return unpacked;
}

void CMyUpdateDlg::ReportFailedDownload()
{
    // Every file gets its old content back and the fetched manifest goes, so
    // the old product can run and the next start offers the update again.
    m_journal.RollBack();
    MessageBox(m_bPackageUnverified ? kTextNotVerified : kTextDownloadFailed, kCaptionFailed);
    m_bCancelLocked = false;
    RestartProduct();
}

bool CMyUpdateDlg::VerifyArchive(const CString& remotePath, const CString& archivePath,
                                 const std::optional<minisign::Digest>& digest)
{
    // Read again rather than kept from the check: it is the same file, and an
    // update never replaces it before this point.
    std::string why;
    if (VerifyDownload(LoadPinnedKey(m_strInstallDir, false), m_transfer, remotePath, archivePath,
                       ExpectedTrustedComment(m_nProduct, g_strNewVersion, UPDATE_ARCHIVE_FILE),
                       digest ? &*digest : nullptr, &why)) {
        return true;
    }
    ReportVerificationFailure("the update package is not verified, nothing was installed", why);
    return false;
}

void CMyUpdateDlg::InstallUpdate()
{
    const PatchOutcome outcome = m_journal.SetPhase(JournalPhase::Patching)
                                     ? PatchWithJournal(m_strInstallDir, m_journal)
                                     : PatchOutcome{};
    // The commit point: once it is recorded, a crash finishes the update
    // instead of undoing it.
    if (!outcome.patched || !m_journal.SetPhase(JournalPhase::Committed)) {
        // The whole old installation comes back, database included, so the
        // old product can run again.
        m_journal.RollBack();
        if (outcome.patched) {
            MessageBox(kTextDownloadFailed, kCaptionFailed);
        } else {
            MessageBox(kTextPatchFailed + outcome.error, kCaptionFailed);
        }
        m_bCancelLocked = false;
        RemoveWorkDirectories();
        RestartProduct();
        return;  // the user closes the dialog
    }

    platform::DeleteFileW(m_strInstallDir + UPDATE_SCRIPT_FILE);
    SetStatusText(kStatusDone);
    CommitNewManifest(m_strInstallDir);
    m_journal.Finish();
    MessageBox(kTextSucceeded + g_strNewVersion + u"!", kCaptionSucceeded);
    platform::OpenDocument(kReleaseNotes);
    RestartProduct();
    if (m_nProduct != PRODUCT_QUENBY) {
        RemoveWorkDirectories();
    }
    EndDialog(IDCANCEL);
}

void CMyUpdateDlg::RestartProduct()
{
    const ProductInfo& product = GetProductInfo(m_nProduct);
    platform::ShellExecuteOpen(kProcessControl, CString(u"-s ") + product.program + u" -nonupdate",
                               m_strInstallDir);
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

// The update sequence on the worker thread: stop the product, download and
// unpack the archive, patch the database, tell the user, restart the product.
#include <exception>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/process.h"
#include "transfer/ftp_transfer.h"
#include "updater/install/ansi_text.h"
#include "updater/install/archive.h"
#include "updater/install/update_db.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"

namespace {

// The product family's process-control program, by its Windows name without
// ".exe"; looked up in the current directory, the installation directory and
// on PATH.
constexpr char16_t kProcessControl[] = u"Haltwick";

constexpr char16_t kScriptFile[] = u"ini\\update.sql";
constexpr char16_t kDatabaseFile[] = u"jo_db_local.db";
// The database as it was before the patch, kept until the outcome is known.
constexpr char16_t kDatabaseBackupFile[] = u"jo_db_local.db.bak";
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
constexpr char16_t kTextSucceeded[] = u"您已经成功升级到最新版本";

void RemoveWorkDirectories()
{
    // Only empty ones go; the rest stay as they are.
    for (const char16_t* name : kWorkDirectories) {
        platform::RemoveDirectoryW(name);
    }
}

// Unpacks every entry over the installation; false as soon as the archive
// cannot be opened or an entry cannot be read or written.
bool UnpackArchive(const CString& archivePath, const CString& baseDir)
{
    ArchiveHandle* archive = ArchiveOpen(archivePath, nullptr);
    if (archive == nullptr) {
        return false;
    }
    bool complete = ArchiveSetBaseDir(archive, baseDir) == ARC_OK;
    ArchiveEntry entry;
    ArchiveGetEntry(archive, -1, &entry);
    const std::int32_t count = entry.number;
    for (std::int32_t index = 0; complete && index < count; ++index) {
        complete = ArchiveGetEntry(archive, index, &entry) == ARC_OK &&
                   ArchiveExtractToFile(archive, index, CString(entry.path)) == ARC_OK;
    }
    ArchiveClose(archive);
    return complete;
}

struct PatchOutcome {
    bool patched = false;
    CString error;  // for the failure message
};

// Runs the script with the database copied aside first, and puts the copy back
// when the script fails, so a failed patch leaves the database as it was.
PatchOutcome PatchWithBackup(const CString& installDir)
{
    PatchOutcome outcome;
    const CString scriptPath = installDir + kScriptFile;
    const CString dbPath = installDir + kDatabaseFile;
    const CString backupPath = installDir + kDatabaseBackupFile;
    std::string dbUtf8;
    std::string backupUtf8;
    try {
        dbUtf8 = AnsiToUtf8(CStringToAnsi(dbPath));
        backupUtf8 = AnsiToUtf8(CStringToAnsi(backupPath));
    } catch (const std::exception& error) {
        outcome.error = platform::Utf8ToUtf16(error.what());
        return outcome;
    }

    const bool hasScript = platform::PathExists(scriptPath);
    const bool hadDatabase = platform::PathExists(dbPath);
    bool backedUp = false;
    if (hasScript && hadDatabase) {
        std::string error;
        backedUp = BackupDatabase(dbUtf8, backupUtf8, &error);
        if (!backedUp) {
            // Without a copy a failing script could not be undone: don't run it.
            outcome.error = platform::Utf8ToUtf16(error);
            return outcome;
        }
    }

    outcome.patched = PatchLocalDatabase(dbUtf8, CStringToAnsi(scriptPath));
    if (outcome.patched) {
        if (backedUp) {
            platform::DeleteFileW(backupPath);
        }
        return outcome;
    }
    outcome.error = AnsiToCString(GetLastDBError());
    if (backedUp) {
        // A copy that cannot be put back stays beside the database.
        if (RestoreDatabase(backupUtf8, dbUtf8)) {
            platform::DeleteFileW(backupPath);
        }
    } else if (!hadDatabase) {
        // The patch created the database; without it the product starts as before.
        platform::DeleteFileW(dbPath);
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

    // A download appends to what the file holds: an archive left by an
    // interrupted run would corrupt this one.
    platform::DeleteFileW(archivePath);
    g_hProgressWnd = m_pWindow != nullptr ? m_pWindow->GetSafeHwnd() : nullptr;
    const bool downloaded = m_transfer.DownloadFile(remotePath, archivePath) != FALSE;
    const bool unpacked = downloaded && UnpackArchive(archivePath, m_strInstallDir);
    platform::DeleteFileW(archivePath);
    return unpacked;
}

void CMyUpdateDlg::ReportFailedDownload()
{
    // Nothing was patched, so the old product can run; the fetched manifest
    // goes, so the next start offers the update again. A script that did
    // arrive must not be run by some later update that brings none.
    platform::DeleteFileW(m_strInstallDir + kScriptFile);
    DiscardNewManifest(m_strInstallDir);
    MessageBox(kTextDownloadFailed, kCaptionFailed);
    m_bCancelLocked = false;
    RestartProduct();
}

void CMyUpdateDlg::InstallUpdate()
{
    const PatchOutcome outcome = PatchWithBackup(m_strInstallDir);
    if (!outcome.patched) {
        DiscardNewManifest(m_strInstallDir);
        MessageBox(kTextPatchFailed + outcome.error, kCaptionFailed);
        m_bCancelLocked = false;
        platform::DeleteFileW(m_strInstallDir + kScriptFile);
        RemoveWorkDirectories();
        return;  // the product stays stopped; the user closes the dialog
    }

    platform::DeleteFileW(m_strInstallDir + kScriptFile);
    SetStatusText(kStatusDone);
    CommitNewManifest(m_strInstallDir);
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

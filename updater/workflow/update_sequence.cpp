// The update sequence on the worker thread: stop the product, download and
// unpack the archive, patch the database, tell the user, restart the product.
#include "platform/process.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"

namespace {

// Relative to the current directory, like the work folders.
constexpr char16_t kReleaseNotes[] = u"update.txt";

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

CString FailureText(UpdateFailure failure)
{
    switch (failure) {
    case UpdateFailure::None: break;
    case UpdateFailure::Download: return kTextDownloadFailed;
    case UpdateFailure::NotVerified: return kTextNotVerified;
    case UpdateFailure::Journal: return kTextJournalFailed;
    case UpdateFailure::NotRestored: return kTextNotRestored;
    case UpdateFailure::Patch: return kTextPatchFailed;
    case UpdateFailure::DatabaseNotKept: return CString(kTextPatchFailed) + kTextDatabaseNotKept;
    }
    return {};
}

}  // namespace

unsigned CMyUpdateDlg::UpdateWorker(void* param)
{
    auto* dlg = static_cast<CMyUpdateDlg*>(param);
    if (!dlg->m_session.Begin()) {
        dlg->MessageBox(kTextJournalFailed, kCaptionFailed);
        dlg->m_bCancelLocked = false;
        return 0;  // the product was never stopped
    }
    // The stop request runs alongside the download; nothing waits for it.
    dlg->m_session.StopProduct();
    dlg->SetStatusText(kStatusDownloading);
    const HWINDOW progress = dlg->m_pWindow != nullptr ? dlg->m_pWindow->GetSafeHwnd() : nullptr;
    if (const UpdateFailure failure = dlg->m_session.DownloadAndUnpack(progress); failure != UpdateFailure::None) {
        dlg->ReportFailedDownload(failure);
        return 0;
    }
    dlg->SetStatusText(kStatusInstalling);
    dlg->InstallUpdate();
    return 0;
}

void CMyUpdateDlg::ReportFailedDownload(UpdateFailure failure)
{
    // Every file gets its old content back and the fetched manifest goes, so
    // the old product can run and the next start offers the update again.
    // A roll back that could not finish keeps its journal for the next start.
    const bool restored = m_session.RollBack();
    MessageBox(FailureText(restored ? failure : UpdateFailure::NotRestored), kCaptionFailed);
    // Started before closing is allowed: a quick close must not end the
    // process before the start request is out.
    RestartProduct();
    m_bCancelLocked = false;
}

void CMyUpdateDlg::InstallUpdate()
{
    CString dbError;
    if (const UpdateFailure failure = m_session.PatchAndCommit(&dbError); failure != UpdateFailure::None) {
        MessageBox(FailureText(failure) + (failure == UpdateFailure::Patch ? dbError : CString()), kCaptionFailed);
        CUpdateSession::RemoveWorkDirectories();
        // Started before closing is allowed (see ReportFailedDownload).
        RestartProduct();
        m_bCancelLocked = false;
        return;  // the user closes the dialog
    }
    SetStatusText(kStatusDone);
    m_session.Complete();
    MessageBox(kTextSucceeded + g_strNewVersion + u"!", kCaptionSucceeded);
    platform::OpenDocument(platform::ToPath(kReleaseNotes));
    RestartProduct();
    if (m_nProduct != PRODUCT_QUENBY) {
        CUpdateSession::RemoveWorkDirectories();
    }
    EndDialog(IDCANCEL);
}

void CMyUpdateDlg::RestartProduct()
{
    m_session.RestartProduct();
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

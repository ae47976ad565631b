#include "viewer/cvglance_dlg.h"

#include "platform/files.h"
#include "viewer/document_rules.h"

CCvGlanceDlg::CCvGlanceDlg(CViewerWindow& window) : m_window(window) {}

void CCvGlanceDlg::AppendProgramFolder(const CString& modulePath)
{
    m_Args.push_back(ProgramFolderOf(modulePath));
}

CString CCvGlanceDlg::LoadingPagePath() const
{
    const CString folder = m_Args.empty() ? CString() : m_Args.back();
    return folder + u"\\res\\loading.htm";
}

CString CCvGlanceDlg::Title() const { return Arg(ARG_TITLE); }

CString CCvGlanceDlg::Arg(std::size_t n) const
{
    return n < m_Args.size() ? m_Args[n] : CString();
}

void CCvGlanceDlg::OnDownloadProgress(WPARAM percent)
{
    m_window.SetWindowText(FormatProgressText(Title(), percent));
}

void CCvGlanceDlg::ShowDocument(const CString& path)
{
    {
        std::lock_guard<std::mutex> lock(m_pendingLock);
        m_strShownNative = platform::NativePath(path);
        m_strPendingFiles = FilesFolderOf(path);
    }
    m_window.Navigate(path);
}

void CCvGlanceDlg::OnPageLoaded(const std::string& nativePath)
{
    {
        std::lock_guard<std::mutex> lock(m_pendingLock);
        if (m_strShownNative.empty() || nativePath != m_strShownNative) {
            return;
        }
    }
    RemovePendingFilesFolder();
}

bool CCvGlanceDlg::IsShownDocument(const std::string& nativePath)
{
    std::lock_guard<std::mutex> lock(m_pendingLock);
    return !m_strShownNative.empty() && nativePath == m_strShownNative;
}

void CCvGlanceDlg::OnClose() { RemovePendingFilesFolder(); }

void CCvGlanceDlg::RemovePendingFilesFolder()
{
    CString folder;
    {
        std::lock_guard<std::mutex> lock(m_pendingLock);
        folder.swap(m_strPendingFiles);
    }
    // A missing folder is the usual case and not worth a word; nor is one that
    // cannot be removed, since the user can do nothing about it here.
    if (!folder.empty()) {
        platform::RemoveTree(folder);
    }
}

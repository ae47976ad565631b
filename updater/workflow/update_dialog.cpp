// The update dialog's handlers: start-up and check, starting the worker, the
// cancel lock and the progress bar.
#include <thread>

#include "updater/workflow/update_dlg.h"

CMyUpdateDlg::CMyUpdateDlg(CFtpTransfer& transfer, CString modulePath)
    : m_session(transfer, modulePath)
{
    m_strInstallDir = platform::PathText(m_session.InstallDir());
}

CMyUpdateDlg::~CMyUpdateDlg() = default;

BOOL CMyUpdateDlg::CheckForUpdate()
{
    const bool due = m_session.Check();
    m_nProduct = m_session.Product();
    return due ? TRUE : FALSE;
}

BOOL CMyUpdateDlg::OnInitDialog()
{
    // Two updaters on one installation would both download and unpack over it;
    // the second waits here and then checks afresh, finding the update done.
    // The lock is held on the installation folder from before the check until
    // the installation is no longer being changed.
    m_installLock.Acquire(platform::PathText(m_session.InstallDir()));

    // Another process (the product that started us) may have created the
    // event; we never create it.
    m_hEvent = platform::OpenEventW(m_strEventName);

    const bool settled = m_session.Recover();
    m_nProduct = m_session.Product();
    if (settled && CheckForUpdate() != FALSE) {
        // The event stays open and unsignalled: the product learns of the
        // update by being stopped and restarted.
        if (m_pWindow != nullptr) {
            StartUpdate();
        } else {
            m_bStartPending = true;
        }
    } else {
        platform::SetEvent(m_hEvent);
        platform::CloseEventHandle(m_hEvent);
        m_hEvent = nullptr;
        m_installLock.Release();
        EndDialog(IDOK);
    }
    return TRUE;
}

void CMyUpdateDlg::AttachWindow(CUpdateWindow* window)
{
    m_pWindow = window;
    if (m_bStartPending) {
        m_bStartPending = false;
        StartUpdate();
    }
}

void CMyUpdateDlg::StartUpdate()
{
    if (m_pWindow == nullptr) {
        return;
    }
    {
        std::lock_guard lock(m_workerMutex);
        if (m_bWorkerRunning) {
            return;  // one update per run, however often the button is pressed
        }
        m_bWorkerRunning = true;
    }
    m_pWindow->ShowControl(IDC_STATIC_STATUS, true);
    m_pWindow->ShowControl(IDC_PROGRESS, true);
    m_pWindow->ShowControl(IDC_START_UPDATE, false);
    std::thread([this] {
        UpdateWorker(this);
        FinishWorker();
    }).detach();
}

void CMyUpdateDlg::FinishWorker()
{
    // The installation is no longer being changed: a waiting updater may go on.
    m_installLock.Release();
    platform::CloseEventHandle(m_hEvent);
    m_hEvent = nullptr;
    std::lock_guard lock(m_workerMutex);
    m_bWorkerRunning = false;
    m_workerDone.notify_all();
}

bool CMyUpdateDlg::WaitForWorker(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_workerMutex);
    return m_workerDone.wait_for(lock, timeout, [this] { return !m_bWorkerRunning; });
}

void CMyUpdateDlg::OnCancel()
{
    if (m_bCancelLocked) {
        return;
    }
    EndDialog(IDCANCEL);
}

std::intptr_t CMyUpdateDlg::OnTransferProgress(WPARAM wParam, LPARAM)
{
    if (m_pWindow != nullptr) {
        m_pWindow->SetProgressPos(static_cast<int>(wParam));
    }
    return 0;
}

void CMyUpdateDlg::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TRANSFER_PROGRESS) {
        OnTransferProgress(wParam, lParam);
    }
}

void CMyUpdateDlg::AbandonUpdate()
{
    m_bStartPending = false;
    m_session.DiscardOffer();
    platform::CloseEventHandle(m_hEvent);
    m_hEvent = nullptr;
    m_installLock.Release();
}

void CMyUpdateDlg::EndDialog(int result)
{
    int running = 0;
    if (!m_nModalResult.compare_exchange_strong(running, result)) {
        return;  // already ended
    }
    if (m_pWindow != nullptr) {
        m_pWindow->EndDialog(result);
    }
}

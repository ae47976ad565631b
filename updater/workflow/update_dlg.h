// The update dialog's logic, without any window: it shows and asks (status,
// progress, messages, the cancel lock, the dialog's result) and owns what
// lives as long as the dialog (the installation lock, the completion event,
// the worker thread). The check and the update itself are the session's
// (update_session.h); the members below are the dialog's face over them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/install_lock.h"
#include "platform/module_path.h"
#include "platform/named_event.h"
#include "platform/types.h"
#include "platform/window.h"
#include "transfer/ftp_transfer.h"
#include "updater/workflow/update_session.h"
#include "updater/workflow/update_window.h"

class CMyUpdateDlg {
public:
    // `transfer` fetches the manifest and the archive (the process's one
    // transfer object in the program). `modulePath` is the executable's path the
    // installation directory is taken from.
    explicit CMyUpdateDlg(CFtpTransfer& transfer, CString modulePath = platform::GetModulePath());
    virtual ~CMyUpdateDlg();
    CMyUpdateDlg(const CMyUpdateDlg&) = delete;
    CMyUpdateDlg& operator=(const CMyUpdateDlg&) = delete;

    // The session's check (see CheckInstallation); nonzero: an update is due.
    // Sets m_nProduct.
    BOOL CheckForUpdate();

    // Runs before any window exists, so that the check needs no display: takes
    // the installation lock (waiting for another updater to finish), opens the
    // completion event and runs the check. No update: posts the event, closes
    // it and ends the dialog with IDOK. Update due: the update starts as soon
    // as a window is attached. Returns TRUE.
    virtual BOOL OnInitDialog();

    // Gives the logic its window, before the window first shows; starts a
    // pending update (which hides the start button). The window must stay
    // valid for the rest of the process.
    void AttachWindow(CUpdateWindow* window);

    // Shows the status line and the progress bar, hides the start button and
    // starts the worker thread, without waiting for it.
    void StartUpdate();

    // The cancel action: ends the dialog with IDCANCEL unless m_bCancelLocked.
    virtual void OnCancel();

    // Sets the progress bar to wParam; returns 0.
    std::intptr_t OnTransferProgress(WPARAM wParam, LPARAM lParam);

    // Where the window delivers posted messages, on its own thread.
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // An update was due but no window can be shown: gives the fetched manifest
    // up and the lock back, so the run changes nothing.
    void AbandonUpdate();

    // The dialog's result once it has ended (IDOK, IDCANCEL); 0 while it runs.
    int GetModalResult() const { return m_nModalResult.load(); }
    bool HasEnded() const { return GetModalResult() != 0; }

    // Waits until the worker thread has finished its sequence (true), or the
    // timeout passed (false). True at once when no worker was started.
    bool WaitForWorker(std::chrono::milliseconds timeout);

    // The worker thread's function; `param` is the dialog. Returns 0.
    static unsigned UpdateWorker(void* param);

    // Patches the database and reports the outcome; on success restarts the
    // product and ends the dialog.
    void InstallUpdate();

    // The session's installation directory (with a trailing separator, or
    // empty), and its product once read.
    CString m_strInstallDir;
    std::int32_t m_nProduct = 2;
    // Set from construction; the worker clears it after a failed database
    // patch while the UI thread reads it, hence atomic.
    std::atomic<bool> m_bCancelLocked{true};

    // The completion event's name; tests give each run a name of its own.
    CString m_strEventName = u"MORVEX_UPDATE_COMPLETE";

private:
    void EndDialog(int result);
    void SetStatusText(const CString& text);
    void MessageBox(const CString& text, const CString& caption);
    // Rolls the update back after a failed download or unpacking, says so and
    // starts the product again.
    void ReportFailedDownload(UpdateFailure failure);
    void RestartProduct();
    void FinishWorker();

    CUpdateSession m_session;
    CUpdateWindow* m_pWindow = nullptr;
    platform::HEVENT m_hEvent = nullptr;
    platform::InstallLock m_installLock;
    bool m_bStartPending = false;
    std::atomic<int> m_nModalResult{0};
    std::mutex m_workerMutex;
    std::condition_variable m_workerDone;
    bool m_bWorkerRunning = false;
};

// The update dialog's logic, without any window.
//
// The check runs without a window; the dialog's handlers and its window
// operations join this class without changing what is here.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/install_lock.h"
#include "platform/module_path.h"
#include "platform/named_event.h"
#include "platform/types.h"
#include "platform/window.h"
#include "transfer/ftp_transfer.h"
#include "updater/install/update_db.h"
#include "updater/workflow/update_journal.h"
#include "updater/workflow/update_signature.h"
#include "updater/workflow/update_window.h"

// In the installation directory, from before the product is asked to stop
// until the request to start it again has gone out: whatever cuts a run short
// (a kill while a message box is up included), the next start sends that
// request before its check. It holds the product index ("product=N").
inline constexpr char16_t UPDATE_RESTART_FILE[] = u"MorvexUpdate.journal.restart";

// True and *product set when the record above is there.
bool ReadRestartRecord(const CString& installDir, std::int32_t* product);

class CMyUpdateDlg {
public:
    // `transfer` fetches the manifest and the archive (the process's one
    // transfer object in the program). `modulePath` is the executable's path the
    // installation directory is taken from.
    explicit CMyUpdateDlg(CFtpTransfer& transfer, CString modulePath = platform::GetModulePath());
    virtual ~CMyUpdateDlg();
    CMyUpdateDlg(const CMyUpdateDlg&) = delete;
    CMyUpdateDlg& operator=(const CMyUpdateDlg&) = delete;

    // Reads the installed manifest, sets the transfer settings, fetches the
    // server's manifest into "newversion.ini" and compares the versions.
    // Nonzero: an update is due and "newversion.ini" is kept for the install to
    // commit (CommitNewManifest) or discard. Zero: no update (also when the
    // download failed); "newversion.ini" is gone and "version.ini" untouched.
    BOOL CheckForUpdate();

    // --- The dialog (update_dialog.cpp) ---

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

    // --- The update sequence (update_sequence.cpp), on the worker thread ---

    // The worker thread's function; `param` is the dialog. Returns 0.
    static unsigned UpdateWorker(void* param);

    // Patches the database and reports the outcome; on success restarts the
    // product and ends the dialog.
    void InstallUpdate();

    CString m_strInstallDir;
    std::int32_t m_nProduct = 2;
    // Set from construction; the worker clears it after a failed database
    // patch while the UI thread reads it, hence atomic.
    std::atomic<bool> m_bCancelLocked{true};

    // How long the patch waits for the product to let go of its database;
    // the installed manifest's "database" "busytimeout" (seconds) sets it.
    int m_nDbBusyTimeoutMs = DB_BUSY_TIMEOUT_MS;

    // The completion event's name; tests give each run a name of its own.
    CString m_strEventName = u"MORVEX_UPDATE_COMPLETE";

protected:
    CFtpTransfer& m_transfer;
    CString m_strModulePath;

private:
    void EndDialog(int result);
    void SetStatusText(const CString& text);
    void MessageBox(const CString& text, const CString& caption);
    // The text the failure message shows; empty when the archive is unpacked.
    CString DownloadAndUnpack();
    void ReportFailedDownload(const CString& failure);
    // The downloaded archive against its signature (see update_signature.h).
    // `digest`: the archive's hash taken as it arrived, when complete.
    bool VerifyArchive(const CString& remotePath, const CString& archivePath,
                       const std::optional<minisign::Digest>& digest);
    // Sends the start request; once it is out, the restart record goes.
    void RestartProduct();
    // Writes the restart record; false when it cannot be written.
    bool NoteRestartDue();
    void FinishWorker();
    // Undoes or finishes an update a crash cut short; false when an unfinished
    // one is still there and the installation must not be touched.
    bool RecoverUnfinishedUpdate();

    CUpdateWindow* m_pWindow = nullptr;
    platform::HEVENT m_hEvent = nullptr;
    platform::InstallLock m_installLock;
    CUpdateJournal m_journal;
    // Read by the check; the archive is verified against the same key.
    PinnedKey m_pinnedKey;
    bool m_bStartPending = false;
    std::atomic<int> m_nModalResult{0};
    std::mutex m_workerMutex;
    std::condition_variable m_workerDone;
    bool m_bWorkerRunning = false;
};

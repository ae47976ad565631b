// The update dialog's logic, without any window.
//
// The check runs without a window; the dialog's handlers and its window
// operations join this class without changing what is here.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/module_path.h"
#include "platform/types.h"
#include "transfer/ftp_transfer.h"

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

    CString m_strInstallDir;
    std::int32_t m_nProduct = 2;
    // Set from construction; the worker clears it after a failed database
    // patch while the UI thread reads it, hence atomic.
    std::atomic<bool> m_bCancelLocked{true};

protected:
    CFtpTransfer& m_transfer;
    CString m_strModulePath;
};

// An exclusive lock on one installation, held on its folder.
//
// Two updaters started at once must not both change one installation: the
// second blocks in Acquire until the first releases the lock or ends (the
// system drops the lock with the process, however it ends). The lock is on
// the folder itself rather than on a file in it: an update writes files into
// the folder and may replace any of them, which would move a file's name to
// a new, unlocked file while the first holder still runs; the folder it
// writes into it cannot replace.
#pragma once

#include "platform/path.h"
#include "platform/types.h"

namespace platform {

class InstallLock {
public:
    InstallLock() = default;
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    // Waits, without a time limit, until this object holds the lock on
    // `folder` (empty: the current directory). False (and no lock held) when
    // the folder cannot be opened.
    bool Acquire(const Path& folder);
    bool Acquire(const CString& folder) { return Acquire(ToPath(folder)); }  // program text

    // False instead of waiting when another holder has the lock.
    bool TryAcquire(const Path& folder);
    bool TryAcquire(const CString& folder) { return TryAcquire(ToPath(folder)); }

    // Idempotent.
    void Release();

    bool IsHeld() const { return m_fd >= 0; }

private:
    bool Lock(const Path& folder, bool wait);

    int m_fd = -1;
};

}  // namespace platform

// An exclusive lock on one installation, held through a file in it.
//
// Two updaters started at once must not both change one installation: the
// second blocks in Acquire until the first releases the lock or ends (the
// system drops the lock with the process, however it ends).
#pragma once

#include "platform/types.h"

namespace platform {

class InstallLock {
public:
    InstallLock() = default;
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    // Creates the lock file when missing and waits, without a time limit,
    // until this object holds the lock. False (and no lock held) when the file
    // cannot be created or locked, for example in a read-only folder.
    bool Acquire(const CString& lockFilePath);

    // False instead of waiting when another holder has the lock.
    bool TryAcquire(const CString& lockFilePath);

    // Idempotent; the lock file stays, since removing it would race with a
    // waiter that has already opened it.
    void Release();

    bool IsHeld() const { return m_fd >= 0; }

private:
    bool Lock(const CString& lockFilePath, bool wait);

    int m_fd = -1;
};

}  // namespace platform

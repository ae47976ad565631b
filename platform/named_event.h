// Named events between processes.
//
// An event is a POSIX named semaphore ("/" + the event's name). The updater only
// opens an event that another process created and posts it once; a product that
// wants to learn that no update was due creates it first and waits on it (see
// docs/updater.md). Posting adds one to the semaphore, so a signal sent before
// the product starts waiting is not lost.
#pragma once

#include <chrono>

#include "platform/types.h"

namespace platform {

struct EventObject;
// Null means "no event": every operation on it does nothing and fails.
using HEVENT = EventObject*;

// Opens an existing event without creating it; null when it does not exist or
// cannot be opened.
HEVENT OpenEventW(const CString& name);

// Creates the event when missing (value 0) or opens it; null on failure.
HEVENT CreateEventW(const CString& name);

// Posts the event once; false for a null handle or when the post fails.
bool SetEvent(HEVENT event);

// Waits until the event is posted, consuming one post; false on timeout or for
// a null handle.
bool WaitForEvent(HEVENT event, std::chrono::milliseconds timeout);

// The number of posts not yet consumed; -1 for a null handle or on failure.
int GetEventCount(HEVENT event);

// Releases the handle (the event itself stays); null is ignored.
void CloseEventHandle(HEVENT event);

// Removes the event's name from the system; processes that hold it open keep
// it. False when it did not exist.
bool DeleteEvent(const CString& name);

}  // namespace platform

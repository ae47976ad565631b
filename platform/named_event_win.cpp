#include "platform/named_event.h"

#include "platform/wide_win.h"

namespace platform {

// An event is a Windows auto-reset event under its own name: one SetEvent
// releases one wait, and a signal sent before anyone waits stays set.
struct EventObject {
    HANDLE handle;
};

namespace {

HEVENT Wrap(HANDLE handle)
{
    if (handle == nullptr) {
        return nullptr;
    }
    return new EventObject{handle};
}

}  // namespace

HEVENT OpenEventW(const CString& name)
{
    return Wrap(::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, win::Wide(name)));
}

HEVENT CreateEventW(const CString& name)
{
    return Wrap(::CreateEventW(nullptr, FALSE, FALSE, win::Wide(name)));
}

bool SetEvent(HEVENT event) { return event != nullptr && ::SetEvent(event->handle) != 0; }

bool WaitForEvent(HEVENT event, std::chrono::milliseconds timeout)
{
    if (event == nullptr) {
        return false;
    }
    const auto ms = timeout.count() < 0 ? 0 : timeout.count();
    const DWORD wait = ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
    return ::WaitForSingleObject(event->handle, wait) == WAIT_OBJECT_0;
}

int GetEventCount(HEVENT event)
{
    if (event == nullptr) {
        return -1;
    }
    // An event holds one signal at most; looking consumes it, so it is set
    // again when it was there.
    if (::WaitForSingleObject(event->handle, 0) == WAIT_OBJECT_0) {
        ::SetEvent(event->handle);
        return 1;
    }
    return 0;
}

void CloseEventHandle(HEVENT event)
{
    if (event != nullptr) {
        ::CloseHandle(event->handle);
        delete event;
    }
}

bool DeleteEvent(const CString& name)
{
    // A Windows event has no name apart from its handles: it goes with the
    // last one. All that can be told is whether it still exists.
    HANDLE handle = ::OpenEventW(SYNCHRONIZE, FALSE, win::Wide(name));
    if (handle == nullptr) {
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

}  // namespace platform

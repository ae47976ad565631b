// A window handle: anything that can receive a posted message from any thread.
//
// The transfer layer posts progress to whatever window the workflow names; the
// GUI layer implements this interface with its toolkit, tests implement it with
// a recorder. Posting never blocks and never waits for the message to be handled.
#pragma once

#include <cstdint>

#ifdef _WIN32
// The system's own message types and ranges. Its header makes PostMessage a
// macro for PostMessageW, which would rename the member below in some files
// and not in others (whichever include the header after this one see no new
// definition, the header being guarded): the macro goes, and the system's call
// is PostMessageW by its own name.
#include <windows.h>
#undef PostMessage
#else
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// Results of a modal dialog.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
#endif

class CWindowHandle {
public:
    virtual ~CWindowHandle() = default;
    // Queues the message for the window's thread. Must be safe to call from any
    // thread. Returns false when the message could not be queued.
    virtual bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// A null HWINDOW means "no window": posting to it does nothing.
using HWINDOW = CWindowHandle*;

inline bool PostMessageTo(HWINDOW hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return hWnd != nullptr && hWnd->PostMessage(message, wParam, lParam);
}

// The window handle a worker posts its progress to, and the event that carries
// a posted message into a window.
#pragma once

#include <mutex>

#include <wx/event.h>

#include "platform/window.h"

// A message posted to a window: EVT_POSTED_MESSAGE carries it as its payload.
struct PostedMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
wxDECLARE_EVENT(EVT_POSTED_MESSAGE, wxThreadEvent);

// The process's one handle for posted messages. A worker may still post after
// its window has gone, so the handle outlives every window: it is created once
// and never destroyed, and posting to it does nothing once no window is
// attached.
class CPostedMessageHandle final : public CWindowHandle {
public:
    static CPostedMessageHandle& Instance();

    // Posted messages reach owner as EVT_POSTED_MESSAGE events from now on.
    void Attach(wxEvtHandler* owner);
    void Detach();

    // Queues the message; false when no window is attached.
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CPostedMessageHandle() = default;

    std::mutex m_mutex;
    wxEvtHandler* m_owner = nullptr;
};

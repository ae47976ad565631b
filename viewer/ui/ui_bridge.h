// Handing the worker's requests to the window's thread.
//
// The worker must not touch toolkit objects: each request travels to the UI
// thread with CallAfter. Requests run only while the window is open; once
// Close has been called, queued requests are dropped unrun and waiting callers
// are released, so a worker never waits on a window that has gone.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include <wx/event.h>

#include "platform/window.h"

class CUiBridge {
public:
    explicit CUiBridge(wxEvtHandler* owner);
    ~CUiBridge();
    CUiBridge(const CUiBridge&) = delete;
    CUiBridge& operator=(const CUiBridge&) = delete;

    // Queues work for the UI thread (runs it at once on the UI thread); dropped
    // after Close.
    void RunLater(std::function<void()> work);

    // Runs work on the UI thread and returns after it has run, or at once,
    // unrun, when the window has closed or closes meanwhile.
    void RunAndWait(std::function<void()> work);

    // The window is going: drop what is queued, release every waiting caller.
    void Close();

    // False once Close has been called.
    bool IsOpen() const;

private:
    struct Waiter {
        std::promise<void> done;
        bool released = false;
    };
    struct State {
        std::mutex mutex;
        wxEvtHandler* owner = nullptr;  // null once closed
        std::vector<std::shared_ptr<Waiter>> waiters;
    };
    static void Release(State& state, const std::shared_ptr<Waiter>& waiter);

    std::shared_ptr<State> m_state;
};

// A message posted to a window: the event carries it as a PostedMessage.
struct PostedMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
wxDECLARE_EVENT(EVT_POSTED_MESSAGE, wxThreadEvent);

// The window handle the download posts its progress to. It outlives every
// window (the worker may still post after the viewer has closed), so it is
// created once and never destroyed; posting to it does nothing once no window
// is attached.
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

// Work that another thread asks the window's thread to do.
//
// The worker thread must not touch toolkit objects; it hands each request to
// the UI thread with CallAfter. Requests run only while the window is open:
// once Close has been called, pending requests are released unrun and new
// ones return at once, so a worker never waits on a window that has gone.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

class wxEvtHandler;

class CUiRequests {
public:
    explicit CUiRequests(wxEvtHandler* owner);
    ~CUiRequests();
    CUiRequests(const CUiRequests&) = delete;
    CUiRequests& operator=(const CUiRequests&) = delete;

    // Runs `work` on the UI thread and returns after it has run (or at once,
    // unrun, when the window has closed). On the UI thread it runs directly.
    void RunAndWait(std::function<void()> work);

    // Queues `work` for the UI thread without waiting; dropped after Close.
    void RunLater(std::function<void()> work);

    // The window is ending: release every waiting caller.
    void Close();

private:
    struct Pending {
        std::promise<void> done;
        bool released = false;
    };
    struct State {
        std::mutex mutex;
        bool closed = false;
        std::vector<std::shared_ptr<Pending>> pending;
    };
    static void Release(State& state, const std::shared_ptr<Pending>& request);

    wxEvtHandler* m_owner;
    std::shared_ptr<State> m_state;
};

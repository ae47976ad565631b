// Work that a worker thread asks a window's thread to do.
//
// A worker must not touch toolkit objects: each request travels to the UI
// thread with CallAfter. Requests run only while the window is open; once
// Close has been called, queued requests are dropped unrun and waiting callers
// are released, so a worker never waits on a window that has gone.
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

    // Queues work for the UI thread (runs it at once on the UI thread); dropped
    // after Close.
    void RunLater(std::function<void()> work);

    // Runs work on the UI thread and returns after it has run, or at once,
    // unrun, when the window has closed or closes meanwhile.
    void RunAndWait(std::function<void()> work);

    // The window is going: drop what is queued, release every waiting caller.
    void Close();

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
    bool IsOpen() const;
    static void Release(State& state, const std::shared_ptr<Waiter>& waiter);

    std::shared_ptr<State> m_state;
};

#include "ui_requests.h"

#include <wx/event.h>
#include <wx/thread.h>

CUiRequests::CUiRequests(wxEvtHandler* owner) : m_state(std::make_shared<State>())
{
    m_state->owner = owner;
}

CUiRequests::~CUiRequests() { Close(); }

bool CUiRequests::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->owner != nullptr;
}

void CUiRequests::RunLater(std::function<void()> work)
{
    if (wxThread::IsMain()) {
        if (IsOpen()) {
            work();
        }
        return;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->owner == nullptr) {
        return;
    }
    // Queued under the lock, so Close cannot slip in between the check and the
    // queueing and leave a request on a window that is being destroyed.
    m_state->owner->CallAfter([state = m_state, work = std::move(work)] {
        {
            std::lock_guard<std::mutex> check(state->mutex);
            if (state->owner == nullptr) {
                return;
            }
        }
        work();
    });
}

void CUiRequests::RunAndWait(std::function<void()> work)
{
    if (wxThread::IsMain()) {
        RunLater(std::move(work));
        return;
    }
    auto waiter = std::make_shared<Waiter>();
    std::future<void> done = waiter->done.get_future();
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->owner == nullptr) {
            return;
        }
        m_state->waiters.push_back(waiter);
        m_state->owner->CallAfter([state = m_state, waiter, work = std::move(work)] {
            bool open = false;
            {
                std::lock_guard<std::mutex> check(state->mutex);
                open = state->owner != nullptr;
            }
            if (open) {
                work();
            }
            Release(*state, waiter);
        });
    }
    // If the window goes before the request runs, the queued call is dropped
    // with it; Close has released the waiter by then.
    done.wait();
}

void CUiRequests::Close()
{
    std::vector<std::shared_ptr<Waiter>> waiters;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->owner = nullptr;
        waiters.swap(m_state->waiters);
    }
    for (const auto& waiter : waiters) {
        Release(*m_state, waiter);
    }
}

void CUiRequests::Release(State& state, const std::shared_ptr<Waiter>& waiter)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!waiter->released) {
        waiter->released = true;
        waiter->done.set_value();
    }
    std::erase(state.waiters, waiter);
}

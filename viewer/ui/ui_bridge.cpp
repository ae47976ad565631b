#include "ui_bridge.h"

#include <wx/thread.h>

wxDEFINE_EVENT(EVT_POSTED_MESSAGE, wxThreadEvent);

CUiBridge::CUiBridge(wxEvtHandler* owner) : m_state(std::make_shared<State>())
{
    m_state->owner = owner;
}

CUiBridge::~CUiBridge() { Close(); }

bool CUiBridge::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->owner != nullptr;
}

void CUiBridge::RunLater(std::function<void()> work)
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
    std::shared_ptr<State> state = m_state;
    m_state->owner->CallAfter([state, work = std::move(work)] {
        {
            std::lock_guard<std::mutex> check(state->mutex);
            if (state->owner == nullptr) {
                return;
            }
        }
        work();
    });
}

void CUiBridge::RunAndWait(std::function<void()> work)
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
        std::shared_ptr<State> state = m_state;
        m_state->owner->CallAfter([state, waiter, work = std::move(work)] {
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

void CUiBridge::Close()
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

void CUiBridge::Release(State& state, const std::shared_ptr<Waiter>& waiter)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!waiter->released) {
        waiter->released = true;
        waiter->done.set_value();
    }
    std::erase(state.waiters, waiter);
}

CPostedMessageHandle& CPostedMessageHandle::Instance()
{
    // Never destroyed: a worker may post until the very end of the process.
    static auto* handle = new CPostedMessageHandle();
    return *handle;
}

void CPostedMessageHandle::Attach(wxEvtHandler* owner)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_owner = owner;
}

void CPostedMessageHandle::Detach() { Attach(nullptr); }

bool CPostedMessageHandle::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_owner == nullptr) {
        return false;
    }
    auto* event = new wxThreadEvent(EVT_POSTED_MESSAGE);
    event->SetPayload(PostedMessage{message, wParam, lParam});
    wxQueueEvent(m_owner, event);
    return true;
}

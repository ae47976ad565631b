#include "ui_requests.h"

#include <algorithm>

#include <wx/event.h>
#include <wx/thread.h>

CUiRequests::CUiRequests(wxEvtHandler* owner) : m_owner(owner), m_state(std::make_shared<State>()) {}

CUiRequests::~CUiRequests() { Close(); }

void CUiRequests::Release(State& state, const std::shared_ptr<Pending>& request)
{
    // Caller holds state.mutex.
    if (!request->released) {
        request->released = true;
        request->done.set_value();
    }
    state.pending.erase(std::remove(state.pending.begin(), state.pending.end(), request),
                        state.pending.end());
}

void CUiRequests::RunAndWait(std::function<void()> work)
{
    if (wxIsMainThread()) {
        bool closed;
        {
            std::lock_guard lock(m_state->mutex);
            closed = m_state->closed;
        }
        if (!closed) {
            work();
        }
        return;
    }
    auto request = std::make_shared<Pending>();
    std::future<void> done = request->done.get_future();
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed) {
            return;
        }
        m_state->pending.push_back(request);
        // Queued under the lock, so Close cannot slip in between the check and
        // the queueing and leave a request on a window that is being destroyed.
        m_owner->CallAfter([state = m_state, request, work = std::move(work)] {
            {
                std::lock_guard inner(state->mutex);
                if (state->closed) {
                    return;
                }
            }
            work();
            std::lock_guard inner(state->mutex);
            Release(*state, request);
        });
    }
    done.wait();
}

void CUiRequests::RunLater(std::function<void()> work)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->closed) {
        return;
    }
    m_owner->CallAfter([state = m_state, work = std::move(work)] {
        {
            std::lock_guard inner(state->mutex);
            if (state->closed) {
                return;
            }
        }
        work();
    });
}

void CUiRequests::Close()
{
    std::lock_guard lock(m_state->mutex);
    m_state->closed = true;
    while (!m_state->pending.empty()) {
        Release(*m_state, m_state->pending.front());
    }
}

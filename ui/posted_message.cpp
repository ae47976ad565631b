#include "posted_message.h"

wxDEFINE_EVENT(EVT_POSTED_MESSAGE, wxThreadEvent);

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

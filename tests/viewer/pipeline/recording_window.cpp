#include "recording_window.h"

#include "support/temp_dir.h"

using testsupport::U8;

void RecordingWindow::Navigate(const CString& path) { Record("navigate " + U8(path)); }

void RecordingWindow::MessageBox(const CString& text, const CString& caption)
{
    Record("box " + U8(caption) + ": " + U8(text));
}

void RecordingWindow::EndDialog() { Record("end"); }

void RecordingWindow::SetWindowText(const CString& text) { Record("text " + U8(text)); }

std::vector<std::string> RecordingWindow::Calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void RecordingWindow::Record(std::string line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(line));
}

bool RecordingHandle::PostMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_posted.push_back({message, wParam});
    return true;
}

std::vector<WPARAM> RecordingHandle::Percents(UINT message) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<WPARAM> percents;
    for (const Posted& posted : m_posted) {
        if (posted.message == message) {
            percents.push_back(posted.wParam);
        }
    }
    return percents;
}

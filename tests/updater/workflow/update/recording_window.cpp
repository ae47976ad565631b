#include "updater/workflow/update/recording_window.h"

#include "support/temp_dir.h"

using testsupport::U8;

void CRecordingWindow::Record(std::string call)
{
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

void CRecordingWindow::ShowControl(int id, bool show)
{
    Record((show ? "show " : "hide ") + std::to_string(id));
}

void CRecordingWindow::SetControlText(int id, const CString& text)
{
    Record("text " + std::to_string(id) + " " + U8(text));
}

void CRecordingWindow::SetProgressPos(int pos)
{
    std::lock_guard lock(m_mutex);
    m_positions.push_back(pos);
}

void CRecordingWindow::MessageBox(const CString& text, const CString& caption)
{
    Record("box " + U8(caption) + "|" + U8(text));
    if (onMessageBox) {
        onMessageBox(U8(caption), U8(text));
    }
}

void CRecordingWindow::EndDialog(int result) { Record("end " + std::to_string(result)); }

bool CRecordingWindow::PostMessage(UINT message, WPARAM wParam, LPARAM)
{
    std::lock_guard lock(m_mutex);
    m_posted.emplace_back(message, wParam);
    ++m_postedCount;
    return true;
}

void CRecordingWindow::DeliverPosted(CMyUpdateDlg& dlg)
{
    std::vector<std::pair<UINT, WPARAM>> posted;
    {
        std::lock_guard lock(m_mutex);
        posted.swap(m_posted);
    }
    for (const auto& [message, wParam] : posted) {
        dlg.OnPostedMessage(message, wParam, 0);
    }
}

std::vector<std::string> CRecordingWindow::Calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<int> CRecordingWindow::ProgressPositions() const
{
    std::lock_guard lock(m_mutex);
    return m_positions;
}

std::size_t CRecordingWindow::PostedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_postedCount;
}

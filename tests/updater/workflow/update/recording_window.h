// The dialog's window without a display, for the update workflow's suites and
// for the programs that run the updater's sequence on another system.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "updater/workflow/update_dlg.h"
#include "updater/workflow/update_window.h"

// The dialog's window without a display. Requests from the worker are handled
// on the worker's thread (they only record); posted messages queue until the
// test, standing in for the window's thread, delivers them.
class CRecordingWindow final : public CUpdateWindow, public CWindowHandle {
public:
    void ShowControl(int id, bool show) override;
    void SetControlText(int id, const CString& text) override;
    void SetProgressPos(int pos) override;
    void MessageBox(const CString& text, const CString& caption) override;
    void EndDialog(int result) override;
    HWINDOW GetSafeHwnd() override { return this; }
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Delivers the queued messages to the dialog, in order.
    void DeliverPosted(CMyUpdateDlg& dlg);

    // Called on the worker's thread while a message box is up, before the box
    // is "dismissed" (the call returns).
    std::function<void(const std::string& caption, const std::string& text)> onMessageBox;

    // "show 1004", "hide 1001", "text 1004 <text>", "box <caption>|<text>",
    // "end 2", in order.
    std::vector<std::string> Calls() const;
    std::vector<int> ProgressPositions() const;
    std::size_t PostedCount() const;

private:
    void Record(std::string call);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<int> m_positions;
    std::vector<std::pair<UINT, WPARAM>> m_posted;
    std::size_t m_postedCount = 0;
};

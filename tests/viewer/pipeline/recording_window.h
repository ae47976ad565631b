// A viewer window without a screen: it records what the pipeline asks of it,
// answers every message box at once, and collects posted progress messages.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"
#include "viewer/viewer_window.h"

class RecordingWindow final : public CViewerWindow {
public:
    void Navigate(const CString& path) override;
    void MessageBox(const CString& text, const CString& caption) override;
    void EndDialog() override;
    void SetWindowText(const CString& text) override;

    // Everything asked for so far, in order, as readable lines:
    // "navigate <path>", "box <caption>: <text>", "end", "text <text>".
    std::vector<std::string> Calls() const;

private:
    void Record(std::string line);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

class RecordingHandle final : public CWindowHandle {
public:
    bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    std::vector<WPARAM> Percents(UINT message) const;

private:
    struct Posted {
        UINT message;
        WPARAM wParam;
    };
    mutable std::mutex m_mutex;
    std::vector<Posted> m_posted;
};

// The window operations the viewer's logic needs from its dialog.
//
// The logic (CCvGlanceDlg, DocumentWorker) never sees a toolkit: the program's
// window implements this interface. Every operation may be called from the
// worker thread; the window carries it out on its own thread, in call order.
// Once the window has closed, every operation returns at once and does nothing.
#pragma once

#include "platform/types.h"

class CViewerWindow {
public:
    virtual ~CViewerWindow() = default;

    // Shows the local file at path (a program path, "\" separators allowed) in
    // the HTML view. Does not wait for the page to load; a file that cannot be
    // shown leaves the view showing whatever the browser shows for it.
    virtual void Navigate(const CString& path) = 0;

    // A message box owned by the viewer window, with an OK button only. Returns
    // when the user has dismissed it, or at once when the window has closed.
    virtual void MessageBox(const CString& text, const CString& caption) = 0;

    // Closes the viewer as its close button does. Does not wait for it.
    virtual void EndDialog() = 0;

    // The text the taskbar and the task switcher show for the window.
    virtual void SetWindowText(const CString& text) = 0;
};

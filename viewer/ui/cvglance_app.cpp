// The viewer program's start-up: refuse a command line the pipeline cannot
// run with, otherwise show the viewer window until it closes.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/msgdlg.h>

#include "cvglance_wnd.h"
#include "text.h"
#include "viewer/document_rules.h"

namespace {

// The arguments as the program received them, before the toolkit takes its own
// options out. Arguments are UTF-8 whatever the locale says.
std::vector<CString> g_args;

}  // namespace

class CCvGlanceApp final : public wxApp {
public:
    bool OnInit() override
    {
        wxInitAllImageHandlers();
        if (!IsLegalCommandLine(g_args)) {
            wxMessageBox(ToWx(VIEWER_ILLEGAL_START), ToWx(VIEWER_PROGRAM_NAME), wxOK | wxICON_NONE | wxCENTRE);
            return false;
        }
        // The window deletes itself when it closes; the program ends with it.
        new CCvGlanceWnd(g_args);
        return true;
    }
};

wxIMPLEMENT_APP_NO_MAIN(CCvGlanceApp);

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        g_args.push_back(FromUtf8Argument(argv[i]));
    }
    // Placing and dragging a frameless window needs X11; under a Wayland
    // session the X11 compatibility server provides it.
    setenv("GDK_BACKEND", "x11,*", 0);
    const int status = wxEntry(argc, argv);
    // The window has closed. The detached worker may still be downloading or
    // converting and uses the process-wide objects (code-page tables, the
    // conversion library's), so none is destroyed: the process ends here and
    // takes the worker with it. A running converter is ended by its guard.
    std::fflush(nullptr);
    std::_Exit(status);
}

// The viewer program's start-up: refuse a command line the pipeline cannot
// run with, otherwise show the viewer window until it closes.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/msgdlg.h>

#include "cvglance_wnd.h"
#include "platform/codepage.h"
#include "ui/wx_text.h"
#include "viewer/document_rules.h"

namespace {

// The arguments as the program received them. Arguments are UTF-8 whatever
// the locale says.
std::vector<CString> g_args;

// Every local user may read a process's command line; the FTP password is
// overwritten there once it has been copied.
void WipePassword(int argc, char** argv)
{
    const int at = static_cast<int>(ARG_PASSWORD) + 1;
    if (at < argc) {
        for (char* c = argv[at]; *c != '\0'; ++c) {
            *c = '*';
        }
    }
}

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
        g_args.push_back(platform::Utf8ToUtf16(argv[i]));
    }
    WipePassword(argc, argv);
    // Placing and dragging a frameless window needs X11; under a Wayland
    // session the X11 compatibility server provides it.
    setenv("GDK_BACKEND", "x11,*", 0);
    // The arguments are data (a title, a password) and never the toolkit's
    // options: a title such as "--gtk-module=..." must not load a library.
    static char* toolkitArgv[] = {argv[0], nullptr};
    int toolkitArgc = 1;
    const int status = wxEntry(toolkitArgc, toolkitArgv);
    // The window has closed. The detached worker may still be downloading or
    // converting and uses the process-wide objects (code-page tables, the
    // conversion library's), so none is destroyed: the process ends here and
    // takes the worker with it. A running converter is ended by its guard.
    std::fflush(nullptr);
    std::_Exit(status);
}

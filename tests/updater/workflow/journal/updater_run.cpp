#include "updater/workflow/journal/updater_run.h"

#include <chrono>
#include <fstream>
#include <string>

#include "platform/durable_file.h"
#include "support/temp_dir.h"
#include "transfer/ftp_transfer_curl.h"
#include "updater/workflow/update/recording_window.h"
#include "updater/workflow/update_dlg.h"

void RunUpdaterHere(const CString& modulePath, const platform::Path& callsFile)
{
    CFtpTransfer_Curl transfer;
    CRecordingWindow window;
    CMyUpdateDlg dlg(transfer, modulePath);
    // Per process, so that runs never share the completion event.
    dlg.m_strEventName = testsupport::U16("morvex-journal-" + std::to_string(platform::CurrentProcessId()));
    dlg.OnInitDialog();
    if (!dlg.HasEnded()) {
        dlg.AttachWindow(&window);
        dlg.WaitForWorker(std::chrono::minutes(2));
    }
    std::ofstream out(callsFile, std::ios::binary);
    for (const std::string& call : window.Calls()) {
        out << call << '\n';
    }
}

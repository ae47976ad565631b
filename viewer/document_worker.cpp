#include "viewer/document_worker.h"

#include "platform/files.h"
#include "viewer/convert_bridge.h"
#include "viewer/cvglance_dlg.h"
#include "viewer/document_rules.h"
#include "viewer/ftp_curl.h"

namespace {

void Fail(CCvGlanceDlg& dlg, const char16_t* message)
{
    dlg.Window().MessageBox(message, VIEWER_NOTICE_CAPTION);
    dlg.Window().EndDialog();
}

}  // namespace

int DocumentWorker(CCvGlanceDlg* dlg)
{
    CFtpCurl ftp;
    ftp.m_strUser = dlg->Arg(ARG_USER);
    ftp.m_strPassword = dlg->Arg(ARG_PASSWORD);
    ftp.m_strPort = dlg->Arg(ARG_PORT);

    const CString url = dlg->Arg(ARG_URL);
    const CString type = DocumentTypeOf(url);
    const CString baseName = dlg->Arg(ARG_BASE_NAME);
    const CString workFolder = dlg->Arg(ARG_WORK_FOLDER);
    if (!IsSafeDocumentName(baseName, type)) {
        Fail(*dlg, VIEWER_DOWNLOAD_ERROR);
        return 0;
    }

    // The converter loads while the document downloads.
    const DocumentAction action = ChooseDocumentAction(type);
    if (action.convert) {
        WarmUpConverter(action.kind);
    }

    // Every download starts from the first byte: a partial file from an
    // earlier run must not be continued.
    const CString local = DownloadPathOf(workFolder, baseName, type);
    platform::DeleteFileW(local);
    if (!ftp.DownloadFile(url, local)) {
        Fail(*dlg, VIEWER_DOWNLOAD_ERROR);
        return 0;
    }

    if (!action.convert) {
        dlg->ShowDocument(local);
        return 0;
    }

    const CString html = ConvertedPathOf(workFolder, baseName);
    if (!ConvertToHtml(local.c_str(), html.c_str(), action.kind)) {
        Fail(*dlg, VIEWER_CONVERT_ERROR);
        return 0;
    }
    dlg->ShowDocument(html);
    platform::DeleteFileW(local);
    return 0;
}

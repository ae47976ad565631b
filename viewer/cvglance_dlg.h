// The viewer dialog's logic: the argument list, the document shown and the
// clean-up of its supporting files, the progress text and the title band state.
// The program's window owns one and implements CViewerWindow for it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "morvex_version.h"
#include "platform/types.h"
#include "platform/window.h"
#include "viewer/caption_buttons.h"
#include "viewer/viewer_window.h"

// Texts the user sees.
inline constexpr char16_t VIEWER_ILLEGAL_START[] = u"非法启动！";
inline constexpr char16_t VIEWER_NOTICE_CAPTION[] = u"提示";
inline constexpr char16_t VIEWER_DOWNLOAD_ERROR[] = u"文件下载错误，请稍后再试！";
inline constexpr char16_t VIEWER_CONVERT_ERROR[] =
    u"文件转换错误，请稍后再试！\n\n您可能安装了IgAgent等加密软件！";
inline constexpr char16_t VIEWER_PROGRAM_NAME[] = u"CvGlance";
inline constexpr char16_t VIEWER_ABOUT_ITEM[] = u"关于 CvGlance(&A)...";
inline constexpr char16_t VIEWER_ABOUT_TITLE[] = u"关于 CvGlance";
inline constexpr char16_t VIEWER_ABOUT_LINE[] = u"CvGlance " MORVEX_VERSION_SHORT " 版";

class CCvGlanceDlg {
public:
    explicit CCvGlanceDlg(CViewerWindow& window);
    CCvGlanceDlg(const CCvGlanceDlg&) = delete;
    CCvGlanceDlg& operator=(const CCvGlanceDlg&) = delete;

    // Opening: appends the folder of the running program (given as its full
    // path) to m_Args, so that with six arguments it is also the work folder.
    // Call once, before the worker starts; m_Args does not change afterwards.
    void AppendProgramFolder(const CString& modulePath);

    // The page shown while the pipeline runs: program folder + "\res\loading.htm".
    CString LoadingPagePath() const;

    // Entry 0, or an empty text when the list is empty.
    CString Title() const;
    // Entry n of m_Args; an empty text when the list is shorter.
    CString Arg(std::size_t n) const;

    // Download progress arrived (UI thread): the window text becomes the title
    // followed by "  " and the percent.
    void OnDownloadProgress(WPARAM percent);

    // Hands a document to the HTML view (any thread). Its ".files" folder is
    // removed once the view reports this document loaded, or when the viewer
    // closes, whichever comes first.
    void ShowDocument(const CString& path);

    // The HTML view finished loading the page at nativePath (UI thread). When
    // that is the shown document, its ".files" folder is removed now.
    void OnPageLoaded(const std::string& nativePath);

    // True when nativePath is the document handed to the view (any thread).
    bool IsShownDocument(const std::string& nativePath);

    // The viewer is closing (UI thread): a ".files" folder still waiting for
    // its page is removed now.
    void OnClose();

    CViewerWindow& Window() { return m_window; }

    std::vector<CString> m_Args;
    CCaptionButtons m_caption;

private:
    void RemovePendingFilesFolder();

    CViewerWindow& m_window;
    std::mutex m_pendingLock;  // the shown document is set by the worker, read by the UI
    std::string m_strShownNative;
    CString m_strPendingFiles;
};

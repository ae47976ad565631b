#include "updater/workflow/manifest.h"
#include "updater/workflow/update_dlg.h"
#include "updater/workflow/transport_security.h"
#include "updater/workflow/update_signature.h"

#include "platform/files.h"

CMyUpdateDlg::CMyUpdateDlg(CFtpTransfer& transfer, CString modulePath)
    : m_transfer(transfer), m_strModulePath(std::move(modulePath))
{
}

CMyUpdateDlg::~CMyUpdateDlg() = default;

BOOL CMyUpdateDlg::CheckForUpdate()
{
    m_strInstallDir = InstallDirFromModulePath(m_strModulePath);
    const CString installedPath = m_strInstallDir + MANIFEST_FILE;
    const CString downloadedPath = m_strInstallDir + NEW_MANIFEST_FILE;

    const InstalledManifest installed = ReadInstalledManifest(installedPath);
    m_nProduct = ProductIndexFromName(installed.name);
    g_strFtpServer = installed.server;
    g_strFtpUser = installed.user;
    g_strFtpPassword = installed.password;
    g_nDownloadFloorRate = installed.downloadFloorRate;
    m_nDbBusyTimeoutMs = installed.dbBusyTimeoutMs;
    ApplyTransportSecurity(installedPath, m_strInstallDir);
    m_pinnedKey = LoadPinnedKey(m_strInstallDir);

    // A download appends to an existing file, so a manifest left by an
    // interrupted run would otherwise shadow the server's.
    platform::DeleteFileW(downloadedPath);
    const BOOL downloaded = m_transfer.DownloadFile(
        RemoteUpdateUrl(g_strFtpServer, m_nProduct, MANIFEST_FILE), downloadedPath);

    g_strNewVersion = ReadManifestVersion(downloadedPath);
    // A failed or cut-short download must not pass for an offer: installing
    // would later make that partial file the installed manifest.
    const bool updateDue = downloaded != FALSE && !g_strNewVersion.empty() &&
                           !CompareVersions(installed.version, g_strNewVersion);
    if (!updateDue) {
        DiscardNewManifest(m_strInstallDir);
        return FALSE;
    }
    // An offer that is not signed as this product's manifest of this version
    // counts as none.
    std::string why;
    if (!VerifyDownload(m_pinnedKey, m_transfer, RemoteUpdateUrl(g_strFtpServer, m_nProduct, MANIFEST_FILE),
                        downloadedPath, ExpectedTrustedComment(m_nProduct, g_strNewVersion, MANIFEST_FILE), nullptr,
                        &why)) {
        ReportVerificationFailure("the offered update's manifest is not verified, no update is offered", why);
        DiscardNewManifest(m_strInstallDir);
        return FALSE;
    }
    return TRUE;
}

#include "updater/workflow/update_check.h"

#include "platform/files.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/transport_security.h"

UpdateOffer CheckInstallation(const platform::Path& installPath, CFtpTransfer& transfer)
{
    const CString installDir = platform::PathText(installPath);
    const CString installedPath = installDir + MANIFEST_FILE;
    const CString downloadedPath = installDir + NEW_MANIFEST_FILE;

    UpdateOffer offer;
    const InstalledManifest installed = ReadInstalledManifest(installedPath);
    offer.product = ProductIndexFromName(installed.name);
    g_strFtpServer = installed.server;
    g_strFtpUser = installed.user;
    g_strFtpPassword = installed.password;
    g_nDownloadFloorRate = installed.downloadFloorRate;
    offer.dbBusyTimeoutMs = installed.dbBusyTimeoutMs;
    ApplyTransportSecurity(installedPath, installDir);
    offer.pinnedKey = LoadPinnedKey(installDir);

    // A download appends to an existing file, so a manifest left by an
    // interrupted run would otherwise shadow the server's.
    platform::DeleteFileW(downloadedPath);
    const CString remote = RemoteUpdateUrl(g_strFtpServer, offer.product, MANIFEST_FILE);
    const BOOL downloaded = transfer.DownloadFile(remote, downloadedPath);

    g_strNewVersion = ReadManifestVersion(downloadedPath);
    // A failed or cut-short download must not pass for an offer: installing
    // would later make that partial file the installed manifest.
    const bool newer = downloaded != FALSE && !g_strNewVersion.empty() &&
                       !CompareVersions(installed.version, g_strNewVersion);
    if (!newer) {
        DiscardNewManifest(installDir);
        return offer;
    }
    // An offer that is not signed as this product's manifest of this version
    // counts as none.
    std::string why;
    if (!VerifyDownload(offer.pinnedKey, transfer, remote, downloadedPath,
                        ExpectedTrustedComment(offer.product, g_strNewVersion, MANIFEST_FILE), nullptr, &why)) {
        ReportVerificationFailure("the offered update's manifest is not verified, no update is offered", why);
        DiscardNewManifest(installDir);
        return offer;
    }
    offer.due = true;
    return offer;
}

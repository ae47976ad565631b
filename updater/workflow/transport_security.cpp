#include "updater/workflow/transport_security.h"

#include "platform/files.h"
#include "platform/ini.h"
#include "transfer/ftp_transfer.h"
#include "updater/workflow/manifest.h"

void ApplyTransportSecurity(const CString& installedManifestPath, const CString& installDir)
{
    const CString tls =
        platform::GetPrivateProfileStringW(u"ftp", u"tls", u"", MANIFEST_VALUE_UNITS, installedManifestPath);
    g_bFtpTls = !tls.empty() && tls != u"0";
    const CString caFile = installDir + CA_FILE;
    g_strFtpCaFile = g_bFtpTls && platform::PathExists(caFile) ? platform::NativePath(caFile) : std::string();
}

// FTP over TLS for the updater's transfers, chosen by the installed manifest.
#pragma once

#include "platform/types.h"

// Beside the executable: the only certificates trusted for a TLS session
// (a product team's private server); without it, the system's store.
inline constexpr char16_t CA_FILE[] = u"MorvexUpdate.ca.pem";

// Sets g_bFtpTls from key "tls" of section "ftp" of the installed manifest
// (missing or "0": off; any other value: on, so that a damaged value never
// falls back to clear text) and g_strFtpCaFile from CA_FILE in installDir.
void ApplyTransportSecurity(const CString& installedManifestPath, const CString& installDir);

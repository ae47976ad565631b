// The update manifest: its files, product codes, remote locations, the version
// comparison, and the handing over of a downloaded manifest.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "transfer/ftp_transfer.h"
#include "updater/install/update_db.h"

// The updater's own executable, without the system's program suffix
// (platform::kProgramSuffix: "MorvexUpdate.exe" on Windows); the installation
// directory is the folder it lies in.
inline constexpr char16_t UPDATER_EXECUTABLE_NAME[] = u"MorvexUpdate";

inline constexpr char16_t MANIFEST_FILE[] = u"version.ini";         // installed
inline constexpr char16_t NEW_MANIFEST_FILE[] = u"newversion.ini";  // downloaded
inline constexpr char16_t UPDATE_ARCHIVE_FILE[] = u"update.zip";
// The database patch an update may bring, relative to the installation.
inline constexpr char16_t UPDATE_SCRIPT_FILE[] = u"ini\\update.sql";

// Every manifest value is read into a buffer of this many UTF-16 units,
// terminator included, so values keep at most 19 characters.
inline constexpr std::size_t MANIFEST_VALUE_UNITS = 20;
// Output buffer for one descrambled value.
inline constexpr std::size_t PLAIN_VALUE_UNITS = 256;

// "ver" of the downloaded manifest, left by the check for the success message.
extern CString g_strNewVersion;

// Products, chosen by the installed manifest's "name" (exact, case-sensitive);
// anything else, the empty text included, is the last row.
struct ProductInfo {
    std::int32_t index;
    const char16_t* name;        // "name" value that selects the product
    const char16_t* folderCode;  // remote folder below "/update/"
    const char16_t* program;     // the product's own program
};
inline constexpr std::int32_t PRODUCT_QUENBY = 0;
inline constexpr std::int32_t PRODUCT_ZENTORA_E = 1;
inline constexpr std::int32_t PRODUCT_ZENTORA_P = 2;

std::int32_t ProductIndexFromName(const CString& name);
// Out-of-range indexes are treated as the last product.
const ProductInfo& GetProductInfo(std::int32_t productIndex);

// "ftp://" + server + "/update/" + folder code + "/" + file name, the server
// text taken as it is.
CString RemoteUpdateUrl(const CString& server, std::int32_t productIndex, const CString& fileName);

// The directory part of the executable's path, with its trailing separator,
// when the path's last component is exactly UPDATER_EXECUTABLE_NAME with the
// system's program suffix; otherwise empty (the files are then looked up
// relative to the current directory).
CString InstallDirFromModulePath(const CString& modulePath);

// True when the installed version is current, false when an update is due.
// Each text gives four numbers (missing ones are 0, any after the fourth are
// ignored); the first position that differs decides. Equal texts are current.
bool CompareVersions(CString installed, CString offered);

// The values the check reads from the installed manifest; login values are
// already descrambled. A missing file or key reads as the empty text.
struct InstalledManifest {
    CString version;
    CString name;
    CString server;
    CString user;
    CString password;
    // Optional settings, plain decimal numbers; absent, zero or unreadable:
    // the default. "ftp" "minrate": the download floor rate in KiB/s.
    // "database" "busytimeout": seconds the patch waits for a locked database.
    std::int64_t downloadFloorRate = DOWNLOAD_FLOOR_RATE;  // bytes per second
    int dbBusyTimeoutMs = DB_BUSY_TIMEOUT_MS;
};
InstalledManifest ReadInstalledManifest(const CString& path);

// "ver" of section "version"; empty when the file or key is missing.
CString ReadManifestVersion(const CString& path);

// Makes the downloaded manifest the installed one: "version.ini" is replaced by
// "newversion.ini" in one step, so that a crash leaves either the old or the
// new manifest, never none. False (and both files as they were) on failure.
bool CommitNewManifest(const CString& installDir);

// Removes a downloaded manifest; true when none is left.
bool DiscardNewManifest(const CString& installDir);

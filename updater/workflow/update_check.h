// The update check: the installed manifest against the server's, without any
// window, lock or journal.
#pragma once

#include <cstdint>

#include "platform/path.h"
#include "transfer/ftp_transfer.h"
#include "updater/install/update_db.h"
#include "updater/workflow/update_signature.h"

// What the check found, and what an update it offers goes on with.
struct UpdateOffer {
    bool due = false;
    // The installed manifest's product (its "name").
    std::int32_t product = 2;
    // How long the patch waits for the product to let go of its database;
    // the installed manifest's "database" "busytimeout" (seconds) sets it.
    int dbBusyTimeoutMs = DB_BUSY_TIMEOUT_MS;
    // The archive is verified against the key the check read.
    PinnedKey pinnedKey;
};

// Reads the installed manifest in `installDir`, sets the transfer settings,
// fetches the server's manifest into "newversion.ini" and compares the
// versions. Due: "newversion.ini" is kept for the install to commit
// (CommitNewManifest) or discard. Not due (also when the download failed or
// the offer is not verified): "newversion.ini" is gone, "version.ini" untouched.
UpdateOffer CheckInstallation(const platform::Path& installDir, CFtpTransfer& transfer);

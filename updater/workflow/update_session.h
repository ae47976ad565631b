// One update of one installation: the installation directory (taken once
// from the updater's own path), the check's offer, the journal, and the steps
// that change the installation: download, unpack, patch, commit or roll
// back, the product's stop and restart. No window: the dialog shows what the
// steps report.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/path.h"
#include "platform/types.h"
#include "platform/window.h"
#include "transfer/ftp_transfer.h"
#include "updater/workflow/update_check.h"
#include "updater/workflow/update_journal.h"

// In the installation directory, from before the product is asked to stop
// until the request to start it again has gone out: whatever cuts a run short
// (a kill while a message box is up included), the next start sends that
// request before its check. It holds the product index ("product=N").
inline constexpr char16_t UPDATE_RESTART_FILE[] = u"MorvexUpdate.journal.restart";

// Why a step did not get through.
enum class UpdateFailure {
    None,
    Download,         // the archive could not be downloaded or unpacked
    NotVerified,      // the archive is not signed as expected
    Journal,          // the journal could not be written
    NotRestored,      // a roll back could not finish; the next start goes on
    Patch,            // the database patch failed
    DatabaseNotKept,  // the database could not be kept aside, so no patch ran
};

// The journal's actions for an installation: the database is copied and put
// back by its own means; a roll back discards the fetched manifest and
// archive; a committed update is finished by putting the new manifest in place.
JournalActions InstallationJournalActions();

// Unpacks every entry of the archive at `archivePath` over `baseDir`; false as
// soon as the archive is refused (damaged, naming one of the updater's own
// files, too large for the free space), an entry cannot be read or written, or
// an old content cannot be kept. With a journal, every write the archive will
// make is journaled first, in one batch, so that the journal reaches the disk
// once for the whole archive rather than twice per file; a write that pass
// did not foresee is journaled on its own just before it is made. Without one
// (null) the entries are simply written.
bool UnpackArchive(const platform::Path& archivePath, const platform::Path& baseDir, CUpdateJournal* journal);

class CUpdateSession {
public:
    // `modulePath`: the updater's own path; the installation is its folder.
    CUpdateSession(CFtpTransfer& transfer, const CString& modulePath);
    CUpdateSession(const CUpdateSession&) = delete;
    CUpdateSession& operator=(const CUpdateSession&) = delete;

    // Empty when the updater does not run under its own name (then the
    // current directory is the installation).
    const platform::Path& InstallDir() const { return m_installDir; }
    std::int32_t Product() const { return m_offer.product; }

    // Undoes or finishes an update a crash cut short, and sends the start
    // request a cut-short run still owed; false when an unfinished update is
    // still there and the installation must not be touched.
    bool Recover();

    // The check over this installation (see CheckInstallation); true: an
    // update is due.
    bool Check();

    // Starts the journal and notes the restart that is then due; on failure
    // nothing was changed and the fetched manifest is gone.
    bool Begin();
    // Asks the product to stop; nothing waits for it.
    void StopProduct();
    // Downloads the archive (progress posted to `progressWindow`, may be
    // null), verifies and unpacks it.
    UpdateFailure DownloadAndUnpack(HWINDOW progressWindow);
    // Patches the database and records the commit point. On failure the
    // installation is rolled back (*dbError: the database's error text for
    // UpdateFailure::Patch).
    UpdateFailure PatchAndCommit(CString* dbError);
    // After the commit point: the new manifest goes in place and the journal
    // goes (it stays when the manifest could not be moved).
    void Complete();
    // Every file gets its old content back and the fetched manifest goes;
    // false when that could not finish (the journal stays for the next start).
    bool RollBack();
    // The fetched offer goes, and nothing else changes.
    void DiscardOffer();
    // Sends the start request; once it is out, the restart record goes.
    void RestartProduct();
    // Removes the product's empty work folders in the current directory.
    static void RemoveWorkDirectories();

private:
    bool NoteRestartDue();
    bool VerifyArchive(const CString& remotePath, const CString& archivePath,
                       const std::optional<minisign::Digest>& digest);

    CFtpTransfer& m_transfer;
    const platform::Path m_installDir;
    UpdateOffer m_offer;
    CUpdateJournal m_journal;
};

#include "updater/workflow/update_session.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "platform/process.h"
#include "updater/install/ansi_text.h"
#include "updater/install/archive.h"
#include "updater/install/archive_layout.h"
#include "updater/install/database_files.h"
#include "updater/install/reserved_names.h"
#include "updater/install/update_db.h"
#include "updater/workflow/manifest.h"
#include "updater/workflow/update_signature.h"

namespace {

// The product family's process-control program, by its Windows name without
// ".exe"; looked up in the current directory, the installation directory and
// on PATH.
constexpr char16_t kProcessControl[] = u"Haltwick";

constexpr char16_t kDatabaseFile[] = u"jo_db_local.db";
constexpr const char16_t* kWorkDirectories[] = {u"d", u"i", u"l", u"r", u"t", u"u"};

// Room kept free beyond what an archive needs, for the database copy, the
// journal and whatever else runs meanwhile.
std::uint64_t SpaceMargin(std::uint64_t needed)
{
    return (std::uint64_t{8} << 20) + needed / 16;
}

std::uint64_t AddCapped(std::uint64_t a, std::uint64_t b)
{
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// Checked before anything is written, since a refusal halfway would leave
// the roll back to undo what should never have been started: a damaged
// archive, one that names one of the updater's own files, one whose
// announced sizes (with the old files the journal keeps) do not fit the free
// space.
bool MayUnpack(const CString& archivePath, ArchiveHandle* archive, std::int32_t count, const CString& base)
{
    const archive::ArchiveLayout layout = archive::CheckArchiveLayout(archivePath);
    if (!layout.sound || layout.entries != static_cast<std::uint32_t>(count)) {
        return false;
    }
    std::uint64_t needed = layout.unpackedTotal;
    ArchiveEntry entry;
    for (std::int32_t index = 0; index < count; ++index) {
        if (ArchiveGetEntry(archive, index, &entry) != ARC_OK || archive::IsReservedName(CString(entry.path))) {
            return false;
        }
        std::error_code error;
        const std::uint64_t old = std::filesystem::file_size(platform::ToPath(base + CString(entry.path)), error);
        if (!error) {
            needed = AddCapped(needed, old);
        }
    }
    std::error_code error;
    const auto space = std::filesystem::space(base.empty() ? platform::Path(".") : platform::ToPath(base), error);
    return !error && space.available >= AddCapped(needed, SpaceMargin(needed));
}

bool ReadRestartRecord(const platform::Path& installDir, std::int32_t* product)
{
    std::ifstream in(installDir / platform::ToPath(UPDATE_RESTART_FILE));
    if (!in) {
        return false;
    }
    std::string line;
    std::getline(in, line);
    *product = line.rfind("product=", 0) == 0 ? static_cast<std::int32_t>(std::atoi(line.c_str() + 8))
                                                : PRODUCT_ZENTORA_P;
    return true;
}

}  // namespace

JournalActions InstallationJournalActions()
{
    JournalActions actions;
    actions.keepCopy = [](const platform::Path& path, const platform::Path& copy, std::string* error) {
        return KeepDatabaseFiles(path, copy, error);
    };
    actions.restoreCopy = [](const platform::Path& copy, const platform::Path& path) {
        return RestoreDatabaseFiles(copy, path, nullptr);
    };
    actions.removeCopied = [](const platform::Path& path) {
        // The database the patch created, with whatever SQLite made beside it.
        for (const char16_t* suffix : {u"", u"-journal", u"-wal", u"-shm"}) {
            platform::DeleteFileW(platform::PathText(path) + suffix);
        }
    };
    actions.afterRollBack = [](const platform::Path& installDir) {
        DiscardNewManifest(platform::PathText(installDir));
        platform::DeleteFileW(platform::PathText(installDir) + UPDATE_ARCHIVE_FILE);
    };
    actions.finishCommitted = [](const platform::Path& installPath) {
        const CString installDir = platform::PathText(installPath);
        platform::DeleteFileW(installDir + UPDATE_SCRIPT_FILE);
        platform::DeleteFileW(installDir + UPDATE_ARCHIVE_FILE);
        // Without the new manifest in place the check would offer the update
        // again, over the patched database: the journal stays until it is.
        // (A manifest already moved was committed by the cut-short run.)
        return !platform::PathExists(installDir + NEW_MANIFEST_FILE) || CommitNewManifest(installDir);
    };
    return actions;
}

bool UnpackArchive(const platform::Path& archivePath, const platform::Path& baseDir, CUpdateJournal* journal)
{
    const CString archiveText = platform::PathText(archivePath);
    CString base = platform::PathText(baseDir);
    if (!base.empty() && base.back() != u'/' && base.back() != u'\\') {
        base += u'/';
    }
    ArchiveHandle* archive = ArchiveOpen(archiveText, nullptr);
    if (archive == nullptr) {
        return false;
    }
    bool complete = ArchiveSetBaseDir(archive, base) == ARC_OK;
    ArchiveEntry entry;
    ArchiveGetEntry(archive, -1, &entry);
    const std::int32_t count = entry.number;
    if (!MayUnpack(archiveText, archive, count, base)) {
        ArchiveClose(archive);
        return false;
    }
    if (journal != nullptr) {
        ArchiveSetWriteHook(archive, [journal](const ArchiveWrite& write) {
            return write.directory ? journal->RecordNewFolder(write.path)
                                   : journal->KeepBeforeWrite(write.path, write.exists);
        });
        journal->BeginBatch();
        bool kept = true;
        for (std::int32_t index = 0; kept && index < count; ++index) {
            // An entry that cannot be read is left to the extraction below,
            // which stops there and reports it.
            if (ArchiveGetEntry(archive, index, &entry) != ARC_OK) {
                break;
            }
            kept = ArchivePlanToFile(archive, index, CString(entry.path)) == ARC_OK;
        }
        complete = journal->EndBatch() && kept && complete;
        CUpdateJournal::Checkpoint();
    }
    for (std::int32_t index = 0; complete && index < count; ++index) {
        complete = ArchiveGetEntry(archive, index, &entry) == ARC_OK &&
                   ArchiveExtractToFile(archive, index, CString(entry.path)) == ARC_OK;
        CUpdateJournal::Checkpoint();
    }
    ArchiveClose(archive);
    return complete;
}

CUpdateSession::CUpdateSession(CFtpTransfer& transfer, const CString& modulePath)
    : m_transfer(transfer), m_installDir(platform::ToPath(InstallDirFromModulePath(modulePath))),
      m_journal(InstallationJournalActions())
{
}

bool CUpdateSession::Recover()
{
    const JournalRecovery recovery = CUpdateJournal::Recover(m_installDir, InstallationJournalActions());
    // A run that had stopped the product was cut short before it started it
    // again: during the update, or while its last message was up. What is
    // installed now is whole (old or new) and can run; so is a committed
    // update whose manifest could not be moved into place yet.
    std::int32_t product = PRODUCT_ZENTORA_P;
    if ((recovery.clean || recovery.committed) && ReadRestartRecord(m_installDir, &product)) {
        m_offer.product = product;
        RestartProduct();
    }
    // A journal kept for the next start means the installation is not
    // settled: no check over it.
    return recovery.clean;
}

bool CUpdateSession::Check()
{
    m_offer = CheckInstallation(m_installDir, m_transfer);
    return m_offer.due;
}

bool CUpdateSession::Begin()
{
    // Nothing is changed that the journal could not undo, and the product is
    // not stopped before a record on disk says which product to start again.
    if (m_journal.Begin(m_installDir) && NoteRestartDue()) {
        return true;
    }
    m_journal.RollBack();
    return false;
}

void CUpdateSession::StopProduct()
{
    platform::ShellExecuteOpen(kProcessControl, CString(u"-k ") + GetProductInfo(m_offer.product).program,
                               platform::PathText(m_installDir));
}

UpdateFailure CUpdateSession::DownloadAndUnpack(HWINDOW progressWindow)
{
    const CString archivePath = platform::PathText(m_installDir) + UPDATE_ARCHIVE_FILE;
    const CString remotePath = RemoteUpdateUrl(g_strFtpServer, m_offer.product, UPDATE_ARCHIVE_FILE);

    // A download appends to what the file holds: an archive left by an
    // interrupted run would corrupt this one.
    platform::DeleteFileW(archivePath);
    g_hProgressWnd = progressWindow;
    CDownloadDigest digest;
    g_pDownloadObserver = &digest;
    const bool downloaded = m_transfer.DownloadFile(remotePath, archivePath) != FALSE;
    g_pDownloadObserver = nullptr;
    CUpdateJournal::Checkpoint();
    UpdateFailure failure = UpdateFailure::None;
    if (!downloaded) {
        failure = UpdateFailure::Download;
    } else if (!VerifyArchive(remotePath, archivePath, digest.DigestOf(archivePath))) {
        failure = UpdateFailure::NotVerified;
    } else if (!m_journal.SetPhase(JournalPhase::Unpacking)) {
        failure = UpdateFailure::Journal;
    } else if (!UnpackArchive(platform::ToPath(archivePath), m_installDir, &m_journal)) {
        failure = UpdateFailure::Download;
    }
    platform::DeleteFileW(archivePath);
    CUpdateJournal::Checkpoint();
    return failure;
}

bool CUpdateSession::VerifyArchive(const CString& remotePath, const CString& archivePath,
                                   const std::optional<minisign::Digest>& digest)
{
    // The key read by the check: the worker only runs after it, and an update
    // never replaces the key file before this point.
    std::string why;
    if (VerifyDownload(m_offer.pinnedKey, m_transfer, remotePath, archivePath,
                       ExpectedTrustedComment(m_offer.product, g_strNewVersion, UPDATE_ARCHIVE_FILE),
                       digest ? &*digest : nullptr, &why)) {
        return true;
    }
    ReportVerificationFailure("the update package is not verified, nothing was installed", why);
    return false;
}

UpdateFailure CUpdateSession::PatchAndCommit(CString* dbError)
{
    const CString installDir = platform::PathText(m_installDir);
    const platform::Path script = platform::ToPath(installDir + UPDATE_SCRIPT_FILE);
    const platform::Path db = m_installDir / platform::ToPath(kDatabaseFile);
    UpdateFailure failure = UpdateFailure::None;
    if (!m_journal.SetPhase(JournalPhase::Patching)) {
        failure = UpdateFailure::Journal;
    } else {
        std::string error;
        // Without a copy a failing script could not be undone: then it does
        // not run. Undoing a failed patch is the journal's roll back.
        if (platform::PathExists(platform::PathText(script)) && !m_journal.KeepCopy(db, &error)) {
            std::fprintf(stderr, "MorvexUpdate: the database could not be kept aside: %s\n", error.c_str());
            failure = UpdateFailure::DatabaseNotKept;
        } else {
            // Paths stay in the file system's own encoding: an installation
            // folder the ANSI code page cannot spell must still lead to its
            // script and database.
            const bool patched =
                PatchLocalDatabase(platform::PathUtf8(db), platform::PathUtf8(script), m_offer.dbBusyTimeoutMs);
            CUpdateJournal::Checkpoint();
            if (!patched) {
                failure = UpdateFailure::Patch;
                *dbError = AnsiToCString(GetLastDBError());
            } else if (!m_journal.SetPhase(JournalPhase::Committed)) {
                // The commit point: once it is recorded, a crash finishes the
                // update instead of undoing it.
                failure = UpdateFailure::Journal;
            }
        }
    }
    if (failure != UpdateFailure::None && !m_journal.RollBack()) {
        // The whole old installation comes back, database included, so the
        // old product can run again.
        failure = UpdateFailure::NotRestored;
    }
    // The script goes on failure as after success, even when the
    // installation held one before the update: the roll back put it back.
    platform::DeleteFileW(installDir + UPDATE_SCRIPT_FILE);
    return failure;
}

void CUpdateSession::Complete()
{
    // Until the new manifest is in place the journal stays: the next start
    // commits it instead of offering the update again over the patched database.
    if (CommitNewManifest(platform::PathText(m_installDir))) {
        m_journal.Finish();
    }
}

bool CUpdateSession::RollBack()
{
    return m_journal.RollBack();
}

void CUpdateSession::DiscardOffer()
{
    DiscardNewManifest(platform::PathText(m_installDir));
}

void CUpdateSession::RestartProduct()
{
    const CString installDir = platform::PathText(m_installDir);
    // Until the start request is out, the record makes the next start send it.
    if (platform::ShellExecuteOpen(kProcessControl,
                                   CString(u"-s ") + GetProductInfo(m_offer.product).program + u" -nonupdate",
                                   installDir)) {
        platform::DeleteFileW(installDir + UPDATE_RESTART_FILE);
    }
}

bool CUpdateSession::NoteRestartDue()
{
    return platform::WriteFileDurably(platform::PathText(m_installDir) + UPDATE_RESTART_FILE,
                                      "product=" + std::to_string(m_offer.product) + "\n");
}

void CUpdateSession::RemoveWorkDirectories()
{
    // Only empty ones go; the rest stay as they are.
    for (const char16_t* name : kWorkDirectories) {
        platform::RemoveDirectoryW(platform::ToPath(name));
    }
}

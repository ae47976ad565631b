// The update journal: makes an update all or nothing.
//
// While an update changes the installation, a folder in the installation
// directory holds what is needed to undo it: the phase reached, the old
// content of every file an entry replaces (kept aside before the entry is
// written), the files and folders the archive creates, and a copy of the
// database taken before the patch. A failure before the commit point rolls
// everything back; a crash is rolled back (or, after the commit point,
// finished) by the next start of the updater, before its check.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/durable_file.h"
#include "platform/types.h"

// The journal's folder, in the installation directory.
inline constexpr char16_t UPDATE_JOURNAL_FOLDER[] = u"MorvexUpdate.journal";

enum class JournalPhase { Downloading, Unpacking, Patching, Committed };

// What the start-up recovery found and did.
struct JournalRecovery {
    bool found = false;      // an unfinished journal was there
    bool committed = false;  // it had passed the commit point and was finished
    bool clean = true;       // false: it could not be undone and is kept
    std::int32_t product = 2;
};

class CUpdateJournal {
public:
    CUpdateJournal() = default;
    ~CUpdateJournal() = default;
    CUpdateJournal(const CUpdateJournal&) = delete;
    CUpdateJournal& operator=(const CUpdateJournal&) = delete;

    // Starts a journal for an update of `product` in `installDir` (which ends
    // in a separator or is empty), in the phase Downloading. False when it
    // cannot be written, or another journal is still there; the installation
    // must then not be changed.
    bool Begin(const CString& installDir, std::int32_t product);
    bool IsActive() const { return m_bActive; }

    // Records the phase reached; written whole or not at all.
    bool SetPhase(JournalPhase phase);

    // Records each folder of `directoryPart` (relative, may end in a separator)
    // under `base` that does not exist yet, outermost first, so that a roll
    // back removes the folders the archive makes.
    bool RecordNewDirectories(const CString& base, const CString& directoryPart);

    // Called before something writes the file `fullPath`: an existing file is
    // kept aside, a missing one is recorded as new. False when the old content
    // could not be kept (the file must then not be written).
    bool KeepBeforeWrite(const CString& fullPath);

    // Between these two, what the two calls above record is gathered and
    // reaches the disk only in EndBatch, with one flush of the kept files'
    // folder and one of the log, instead of two per file. Nothing recorded in
    // a batch may be written before EndBatch returned true.
    void BeginBatch();
    bool EndBatch();

    // Called before the patch: copies the database (UTF-8 path as the patch
    // runner takes it) into the journal, or records that there is none. False
    // with *errorUtf8 set when the copy cannot be made.
    bool KeepDatabase(const std::string& dbPathUtf8, std::string* errorUtf8);

    // Undoes everything recorded: the database and the replaced files get their
    // old content back, created files and folders go, the downloaded manifest
    // and archive are discarded and the journal is removed. Also usable when
    // Begin failed (then only the two downloads go). False when something
    // could not be restored; the journal then stays for the next start.
    bool RollBack();

    // After the commit: removes the journal and the kept files.
    void Finish();

    // At start-up, under the installation lock: rolls back an unfinished
    // journal left before its commit point, finishes one left after it.
    static JournalRecovery Recover(const CString& installDir);

    // A test hook: when the environment variable MORVEX_TEST_CRASH_STEP holds
    // N, the process is killed at the N-th call of this in its life. Called at
    // every step of an update, so that tests can cut it anywhere.
    static void Checkpoint();

private:
    bool WritePhase(JournalPhase phase);
    // Appends a record to the log now, or to the batch while one is open.
    bool Record(const std::string& record);

    CString m_strInstallDir;
    CString m_strDir;  // the journal folder, with a trailing separator
    std::int32_t m_nProduct = 2;
    bool m_bActive = false;
    unsigned m_nKept = 0;
    std::set<CString> m_recorded;
    platform::DurableLog m_log;
    bool m_bBatch = false;
    bool m_bBatchKept = false;  // a file was kept aside in the open batch
    std::vector<std::string> m_batch;
};

// Unpacks every entry of the archive at `archivePath` over `baseDir`; false as
// soon as the archive cannot be opened, an entry cannot be read or written, or
// an old content cannot be kept. With a journal, every entry is journaled
// first, in one batch, so that the journal reaches the disk once for the whole
// archive rather than twice per file; an entry that first pass could not read
// is journaled on its own just before it would be written. Without one (null)
// the entries are simply written.
bool UnpackArchive(const CString& archivePath, const CString& baseDir, CUpdateJournal* journal);

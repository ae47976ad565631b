// The update journal: an undo log that makes a change of the installation all
// or nothing.
//
// While the installation is changed, a folder in it holds what is needed to
// undo the change: the phase reached, the old content of every file about to
// be replaced (kept aside before it is written), the files and folders that
// did not exist, and copies taken by the owner's own means (the database). A
// failure before the commit point rolls everything back; a crash is rolled
// back (or, after the commit point, finished) by the next start, before
// anything else touches the installation. What the installation holds is the
// owner's business (JournalActions); the journal only records and undoes.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/durable_file.h"
#include "platform/path.h"
#include "platform/types.h"

// The journal's folder, in the installation directory.
inline constexpr char16_t UPDATE_JOURNAL_FOLDER[] = u"MorvexUpdate.journal";

enum class JournalPhase { Downloading, Unpacking, Patching, Committed };

// What the start-up recovery found and did.
struct JournalRecovery {
    bool found = false;      // an unfinished journal was there
    bool committed = false;  // it had passed the commit point and was finished
    bool clean = true;       // false: it could not be undone and is kept
};

// What the owner of the installation adds to the log's own undoing. Each may be
// empty (then nothing is done there).
struct JournalActions {
    // Copies the file at `path` to `copy` so that restoreCopy can put it back;
    // false with *errorUtf8 set when it cannot.
    std::function<bool(const platform::Path& path, const platform::Path& copy, std::string* errorUtf8)> keepCopy;
    std::function<bool(const platform::Path& copy, const platform::Path& path)> restoreCopy;
    // There was nothing at `path` to copy: removes what the change made there.
    std::function<void(const platform::Path& path)> removeCopied;
    // After every roll back, finished or not (and after one of a journal that
    // never began): what the change brought along besides the log.
    std::function<void(const platform::Path& installDir)> afterRollBack;
    // A journal found past its commit point: completes the change; false
    // keeps the journal for the next start.
    std::function<bool(const platform::Path& installDir)> finishCommitted;
};

class CUpdateJournal {
public:
    explicit CUpdateJournal(JournalActions actions = {}) : m_actions(std::move(actions)) {}
    ~CUpdateJournal() = default;
    CUpdateJournal(const CUpdateJournal&) = delete;
    CUpdateJournal& operator=(const CUpdateJournal&) = delete;

    // Starts a journal in `installDir` (empty: the current directory), in the
    // phase Downloading. False when it
    // cannot be written, or another journal is still there; the installation
    // must then not be changed.
    bool Begin(const platform::Path& installDir);

    // Records the phase reached; written whole or not at all.
    bool SetPhase(JournalPhase phase);

    // Called before the folder `path` is created: recorded (unless it exists
    // or was recorded before) so that a roll back removes it again.
    bool RecordNewFolder(const platform::Path& path);

    // Called before something writes the file `path` (`exists`: something is
    // there now): the old file is kept aside, a missing one is recorded as
    // new. False when the old content could not be kept (the file must then
    // not be written).
    bool KeepBeforeWrite(const platform::Path& path, bool exists);

    // Between these two, what the two calls above record is gathered and
    // reaches the disk only in EndBatch, with one flush of the kept files'
    // folder and one of the log, instead of two per file. Nothing recorded in
    // a batch may be written before EndBatch returned true.
    void BeginBatch();
    bool EndBatch();

    // Keeps a copy of the file at `path` made by the actions' keepCopy, or
    // records that there is none. False with *errorUtf8 set when the copy
    // cannot be made.
    bool KeepCopy(const platform::Path& path, std::string* errorUtf8);

    // Undoes everything recorded: copies and replaced files get their old
    // content back, created files and folders go, then afterRollBack runs and
    // the journal is removed. Also usable when Begin failed (then only
    // afterRollBack runs). False when something could not be restored; the
    // journal then stays for the next start.
    bool RollBack();

    // After the commit: removes the journal and the kept files.
    void Finish();

    // At start-up, under the installation lock: rolls back an unfinished
    // journal left before its commit point, finishes one left after it.
    static JournalRecovery Recover(const platform::Path& installDir, const JournalActions& actions);

    // A test hook: when the environment variable MORVEX_TEST_CRASH_STEP holds
    // N, the process is killed at the N-th call of this in its life. Called at
    // every step of an update, so that tests can cut it anywhere.
    static void Checkpoint();

private:
    bool WritePhase(JournalPhase phase);
    // Appends a record to the log now, or to the batch while one is open.
    bool Record(const std::string& record);

    JournalActions m_actions;
    CString m_strInstallDir;  // with a trailing separator, or empty
    CString m_strDir;  // the journal folder, with a trailing separator
    bool m_bActive = false;
    unsigned m_nKept = 0;
    std::set<CString> m_recorded;
    platform::DurableLog m_log;
    bool m_bBatch = false;
    bool m_bBatchKept = false;  // a file was kept aside in the open batch
    std::vector<std::string> m_batch;
};

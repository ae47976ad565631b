#include "updater/workflow/update_journal.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/path.h"
#include "updater/install/reserved_names.h"

namespace {

// Inside the journal folder.
constexpr char16_t kPhaseFile[] = u"phase";
constexpr char16_t kLogFile[] = u"journal.log";
constexpr char16_t kKeptFolder[] = u"kept";
// The database copy of a journal left by the previous release (see ReadLog).
constexpr char16_t kLegacyDatabaseCopy[] = u"database";
// A finished journal is renamed to this before it is deleted, so that a crash
// while deleting never leaves a journal that looks unfinished.
constexpr char16_t kRetiredSuffix[] = u".old";

constexpr const char* kPhaseNames[] = {"downloading", "unpacking", "patching", "committed"};

// Log lines: a tag, a space, then the fields. Paths are UTF-8 with '%', CR and
// LF escaped, so that every record is one line.
//   K <n> <path>  the old file at path is kept as kept/<n>
//   C <path>      the file at path did not exist
//   D <path>      the folder at path did not exist
//   B <n> <path>  a copy of path made by the owner is kept as kept/<n>
//   N <path>      there was nothing at path to copy
// The previous release wrote `B <path>` instead, its one copy (the database)
// being "database" in the journal folder, and a `product=` line in the phase
// file. The updater replaces itself through its own updates, so a run cut
// short after the new binary was unpacked leaves that journal to this one.
std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\n': out += "%0A"; break;
        case '\r': out += "%0D"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string code = text.substr(i + 1, 2);
            out += code == "0A" ? '\n' : code == "0D" ? '\r' : '%';
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct LogRecord {
    char tag = 0;
    std::string number;  // K and B only
    CString path;
};

std::string ReadWhole(const CString& path)
{
    std::ifstream in(platform::ToPath(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The complete lines of the log; a torn last line is left out. `legacy`: the
// previous release's log, whose B records carry no number.
std::vector<LogRecord> ReadLog(const CString& path, bool legacy)
{
    std::vector<LogRecord> records;
    const std::string text = ReadWhole(path);
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() < 3 || line[1] != ' ') {
            continue;
        }
        LogRecord record;
        record.tag = line[0];
        std::string rest = line.substr(2);
        if (record.tag == 'K' || (record.tag == 'B' && !legacy)) {
            const auto space = rest.find(' ');
            if (space == std::string::npos) {
                continue;
            }
            record.number = rest.substr(0, space);
            rest = rest.substr(space + 1);
        }
        record.path = platform::Utf8ToUtf16(Unescape(rest));
        records.push_back(std::move(record));
    }
    return records;
}

struct PhaseFile {
    bool readable = false;
    JournalPhase phase = JournalPhase::Downloading;
    unsigned long pid = 0;
    bool legacy = false;  // written by the previous release
};

PhaseFile ReadPhaseFile(const CString& path)
{
    PhaseFile file;
    std::istringstream lines(ReadWhole(path));
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "phase") {
            for (std::size_t i = 0; i < std::size(kPhaseNames); ++i) {
                if (value == kPhaseNames[i]) {
                    file.phase = static_cast<JournalPhase>(i);
                    file.readable = true;
                }
            }
        } else if (key == "product") {
            file.legacy = true;
        } else if (key == "pid") {
            file.pid = std::strtoul(value.c_str(), nullptr, 10);
        }
    }
    return file;
}

CString ParentOf(const CString& path)
{
    const auto separator = path.find_last_of(u"/\\");
    return separator == CString::npos ? CString() : path.substr(0, separator);
}

CString JournalDir(const CString& installDir) { return installDir + UPDATE_JOURNAL_FOLDER; }

// The installation folder as the log's paths start: with a trailing
// separator, or empty for the current directory. The separator is the one the
// paths of the files below it get (the native one), since a roll back acts
// only on the records that start with this text.
CString DirText(const platform::Path& installDir)
{
    return installDir.empty() ? CString() : platform::PathText(installDir / platform::Path());
}

// Renames the journal out of the way, then deletes it.
void RemoveJournal(const CString& installDir)
{
    const CString dir = JournalDir(installDir);
    const CString retired = dir + kRetiredSuffix;
    std::error_code error;
    platform::RemoveTree(retired);
    std::filesystem::rename(platform::ToPath(dir), platform::ToPath(retired), error);
    platform::SyncDirectory(installDir.empty() ? CString(u".") : installDir);
    platform::RemoveTree(error ? dir : retired);
}

// The log's records that act inside the installation. The log is only ever
// written by the updater, but whatever a damaged or planted line says, a roll
// back must not delete or overwrite anything elsewhere, nor inside the journal.
std::vector<LogRecord> ReadLogInside(const CString& installDir, const CString& logPath, bool legacy)
{
    std::vector<LogRecord> records = ReadLog(logPath, legacy);
    std::erase_if(records, [&](const LogRecord& record) {
        return !archive::IsInsideInstallation(installDir, record.path) ||
               ((record.tag == 'K' || (record.tag == 'B' && !legacy)) && (record.number.empty() ||
                                      record.number.find_first_not_of("0123456789") != std::string::npos));
    });
    return records;
}

// Undoes what the journal in `installDir` records. Each step can be repeated,
// so a roll back cut short by a crash is simply run again.
bool RollBackJournal(const CString& installDir, unsigned long pid, bool legacy, const JournalActions& actions)
{
    const CString dir = JournalDir(installDir) + u"\\";
    const std::vector<LogRecord> records = ReadLogInside(installDir, dir + kLogFile, legacy);
    bool restored = true;

    for (const LogRecord& record : records) {
        if (record.tag == 'B' && actions.restoreCopy) {
            const CString copy = legacy ? dir + kLegacyDatabaseCopy
                                        : dir + kKeptFolder + u"\\" + platform::Utf8ToUtf16(record.number);
            restored = actions.restoreCopy(platform::ToPath(copy), platform::ToPath(record.path)) && restored;
        } else if (record.tag == 'N' && actions.removeCopied) {
            actions.removeCopied(platform::ToPath(record.path));
        }
    }
    CUpdateJournal::Checkpoint();

    std::set<CString> touchedDirs;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->tag == 'K') {
            const CString kept = dir + kKeptFolder + u"\\" + platform::Utf8ToUtf16(it->number);
            // Gone when an earlier roll back already put it back.
            if (platform::PathExists(kept) && !platform::MoveFileReplace(kept, it->path)) {
                restored = false;
            }
            touchedDirs.insert(ParentOf(it->path));
        } else if (it->tag == 'C') {
            platform::DeleteFileW(it->path);
            touchedDirs.insert(ParentOf(it->path));
        }
    }
    CUpdateJournal::Checkpoint();
    if (pid != 0 && pid != platform::CurrentProcessId()) {
        // A killed run may have left a half-written entry behind.
        for (const CString& touched : touchedDirs) {
            platform::RemoveStaleReplacementFiles(touched, pid);
        }
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->tag == 'D') {
            if (pid != 0 && pid != platform::CurrentProcessId()) {
                platform::RemoveStaleReplacementFiles(it->path, pid);
            }
            platform::RemoveDirectoryW(it->path);
        }
    }
    if (actions.afterRollBack) {
        actions.afterRollBack(platform::ToPath(installDir));
    }
    if (!restored) {
        return false;  // the journal stays, and the next start tries again
    }
    RemoveJournal(installDir);
    return true;
}

}  // namespace

void CUpdateJournal::Checkpoint()
{
    const char* value = std::getenv("MORVEX_TEST_CRASH_STEP");
    if (value == nullptr) {
        return;
    }
    // Steps count within one process: a forked child starts again at zero.
    static std::atomic<unsigned long> owner{0};
    static std::atomic<long> steps{0};
    const unsigned long self = platform::CurrentProcessId();
    if (owner.exchange(self) != self) {
        steps = 0;
    }
    if (++steps == std::strtol(value, nullptr, 10)) {
        platform::EndProcessAbruptly();
    }
}

bool CUpdateJournal::WritePhase(JournalPhase phase)
{
    const std::string text = std::string("phase=") + kPhaseNames[static_cast<int>(phase)] + "\npid=" +
                             std::to_string(platform::CurrentProcessId()) + "\n";
    return platform::WriteFileDurably(m_strDir + kPhaseFile, text);
}

bool CUpdateJournal::Begin(const platform::Path& installPath)
{
    const CString installDir = DirText(installPath);
    m_strInstallDir = installDir;
    m_strDir = JournalDir(installDir) + u"\\";
    m_nKept = 0;
    m_recorded.clear();
    m_bBatch = false;
    m_bBatchKept = false;
    m_batch.clear();
    platform::RemoveTree(JournalDir(installDir) + kRetiredSuffix);
    if (platform::PathExists(JournalDir(installDir))) {
        return false;  // an unfinished one that could not be undone
    }
    if (!platform::CreateDirectoryW(JournalDir(installDir)) ||
        !platform::CreateDirectoryW(m_strDir + kKeptFolder)) {
        platform::RemoveTree(JournalDir(installDir));
        return false;
    }
    // The phase file comes last: a journal without one holds nothing to undo.
    if (!m_log.Open(m_strDir + kLogFile) || !WritePhase(JournalPhase::Downloading)) {
        m_log.Close();
        platform::RemoveTree(JournalDir(installDir));
        return false;
    }
    platform::SyncDirectory(installDir.empty() ? CString(u".") : installDir);
    m_bActive = true;
    Checkpoint();
    return true;
}

bool CUpdateJournal::SetPhase(JournalPhase phase)
{
    const bool written = m_bActive && WritePhase(phase);
    Checkpoint();
    return written;
}

bool CUpdateJournal::RecordNewFolder(const platform::Path& folder)
{
    const CString path = platform::PathText(folder);
    if (!m_bActive || m_recorded.count(path) != 0 || platform::PathExists(path)) {
        return m_bActive;
    }
    if (!Record("D " + Escape(platform::Utf16ToUtf8(path)))) {
        return false;
    }
    m_recorded.insert(path);
    return true;
}

bool CUpdateJournal::KeepBeforeWrite(const platform::Path& file, bool exists)
{
    const CString fullPath = platform::PathText(file);
    if (!m_bActive) {
        return false;
    }
    if (m_recorded.count(fullPath) != 0) {
        return true;  // its first state is already kept
    }
    if (platform::IsDirectory(fullPath)) {
        return true;  // no file can replace a folder; the write itself fails
    }
    std::string record;
    if (!exists) {
        record = "C " + Escape(platform::Utf16ToUtf8(fullPath));
    } else {
        const std::string number = std::to_string(++m_nKept);
        const CString kept = m_strDir + kKeptFolder + u"\\" + platform::Utf8ToUtf16(number);
        if (!platform::KeepFileAside(fullPath, kept) ||
            (!m_bBatch && !platform::SyncDirectory(m_strDir + kKeptFolder))) {
            return false;
        }
        m_bBatchKept = m_bBatchKept || m_bBatch;
        record = "K " + number + " " + Escape(platform::Utf16ToUtf8(fullPath));
    }
    if (!Record(record)) {
        return false;
    }
    m_recorded.insert(fullPath);
    return true;
}

void CUpdateJournal::BeginBatch()
{
    m_bBatch = true;
    m_bBatchKept = false;
    m_batch.clear();
}

bool CUpdateJournal::EndBatch()
{
    m_bBatch = false;
    const bool written = m_bActive && (!m_bBatchKept || platform::SyncDirectory(m_strDir + kKeptFolder)) &&
                         m_log.AppendAll(m_batch);
    m_batch.clear();
    m_bBatchKept = false;
    return written;
}

bool CUpdateJournal::Record(const std::string& record)
{
    if (m_bBatch) {
        m_batch.push_back(record);
        return true;
    }
    return m_log.Append(record);
}

bool CUpdateJournal::KeepCopy(const platform::Path& path, std::string* errorUtf8)
{
    if (!m_bActive) {
        return false;
    }
    const std::string pathUtf8 = platform::PathUtf8(path);
    bool kept = false;
    if (!platform::PathExists(platform::PathText(path))) {
        // The change creates it; there was none before.
        kept = m_log.Append("N " + Escape(pathUtf8));
    } else {
        const std::string number = std::to_string(++m_nKept);
        const CString copy = m_strDir + kKeptFolder + u"\\" + platform::Utf8ToUtf16(number);
        kept = m_actions.keepCopy && m_actions.keepCopy(path, platform::ToPath(copy), errorUtf8) &&
               m_log.Append("B " + number + " " + Escape(pathUtf8));
    }
    Checkpoint();
    return kept;
}

bool CUpdateJournal::RollBack()
{
    m_log.Close();
    if (!m_bActive) {
        if (m_actions.afterRollBack) {
            m_actions.afterRollBack(platform::ToPath(m_strInstallDir));
        }
        return true;
    }
    m_bActive = false;
    return RollBackJournal(m_strInstallDir, platform::CurrentProcessId(), false, m_actions);
}

void CUpdateJournal::Finish()
{
    m_log.Close();
    if (m_bActive) {
        m_bActive = false;
        RemoveJournal(m_strInstallDir);
    }
    Checkpoint();
}

JournalRecovery CUpdateJournal::Recover(const platform::Path& installPath, const JournalActions& actions)
{
    const CString installDir = DirText(installPath);
    JournalRecovery recovery;
    platform::RemoveTree(JournalDir(installDir) + kRetiredSuffix);
    if (!platform::PathExists(JournalDir(installDir))) {
        return recovery;
    }
    recovery.found = true;
    const CString dir = JournalDir(installDir) + u"\\";
    const PhaseFile phase = ReadPhaseFile(dir + kPhaseFile);
    if (phase.readable && phase.phase == JournalPhase::Committed) {
        // The change is complete; only the run's own clean-up was cut.
        recovery.committed = true;
        if (actions.finishCommitted && !actions.finishCommitted(platform::ToPath(installDir))) {
            recovery.clean = false;
            return recovery;
        }
        RemoveJournal(installDir);
        return recovery;
    }
    recovery.clean = RollBackJournal(installDir, phase.pid, phase.legacy, actions);
    return recovery;
}

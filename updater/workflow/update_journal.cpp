#include "updater/workflow/update_journal.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "updater/install/archive.h"
#include "updater/install/archive_layout.h"
#include "updater/install/archive_paths.h"
#include "updater/install/database_files.h"
#include "updater/install/reserved_names.h"
#include "updater/workflow/manifest.h"

namespace {

// Inside the journal folder.
constexpr char16_t kPhaseFile[] = u"phase";
constexpr char16_t kLogFile[] = u"journal.log";
constexpr char16_t kKeptFolder[] = u"kept";
constexpr char16_t kDatabaseCopy[] = u"database";
// A finished journal is renamed to this before it is deleted, so that a crash
// while deleting never leaves a journal that looks unfinished.
constexpr char16_t kRetiredSuffix[] = u".old";

constexpr const char* kPhaseNames[] = {"downloading", "unpacking", "patching", "committed"};

// Log lines: a tag, a space, then the fields. Paths are UTF-8 with '%', CR and
// LF escaped, so that every record is one line.
//   K <n> <path>  the old file at path is kept as kept/<n>
//   C <path>      the file at path did not exist
//   D <path>      the folder at path did not exist
//   B <path>      the database at path is kept as "database"
//   N <path>      there was no database at path
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
    std::string number;  // K only
    CString path;
};

std::string ReadWhole(const CString& path)
{
    std::ifstream in(platform::NativePath(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The complete lines of the log; a torn last line is left out.
std::vector<LogRecord> ReadLog(const CString& path)
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
        if (record.tag == 'K') {
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
    std::int32_t product = 2;
    unsigned long pid = 0;
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
            file.product = static_cast<std::int32_t>(std::strtol(value.c_str(), nullptr, 10));
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

// Renames the journal out of the way, then deletes it.
void RemoveJournal(const CString& installDir)
{
    const CString dir = JournalDir(installDir);
    const CString retired = dir + kRetiredSuffix;
    std::error_code error;
    platform::RemoveTree(retired);
    std::filesystem::rename(platform::NativePath(dir), platform::NativePath(retired), error);
    platform::SyncDirectory(installDir.empty() ? CString(u".") : installDir);
    platform::RemoveTree(error ? dir : retired);
}

// The log's records that act inside the installation. The log is only ever
// written by the updater, but whatever a damaged or planted line says, a roll
// back must not delete or overwrite anything elsewhere, nor inside the journal.
std::vector<LogRecord> ReadLogInside(const CString& installDir, const CString& logPath)
{
    std::vector<LogRecord> records = ReadLog(logPath);
    std::erase_if(records, [&](const LogRecord& record) {
        return !archive::IsInsideInstallation(installDir, record.path) ||
               (record.tag == 'K' && (record.number.empty() ||
                                      record.number.find_first_not_of("0123456789") != std::string::npos));
    });
    return records;
}

// Undoes what the journal in `installDir` records. Each step can be repeated,
// so a roll back cut short by a crash is simply run again.
bool RollBackJournal(const CString& installDir, unsigned long pid)
{
    const CString dir = JournalDir(installDir) + u"\\";
    const std::vector<LogRecord> records = ReadLogInside(installDir, dir + kLogFile);
    bool restored = true;

    for (const LogRecord& record : records) {
        if (record.tag == 'B') {
            const platform::Path db = platform::ToPath(record.path);
            const platform::Path copy = platform::ToPath(dir + kDatabaseCopy);
            restored = RestoreDatabaseFiles(copy, db, nullptr) && restored;
        } else if (record.tag == 'N') {
            for (const char16_t* suffix : {u"", u"-journal", u"-wal", u"-shm"}) {
                platform::DeleteFileW(record.path + suffix);
            }
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
    DiscardNewManifest(installDir);
    platform::DeleteFileW(installDir + UPDATE_ARCHIVE_FILE);
    if (!restored) {
        return false;  // the journal stays, and the next start tries again
    }
    RemoveJournal(installDir);
    return true;
}

// Tells the journal what the entry is about to write, as the archive component
// will build its target under `base`. Names the component refuses write
// nothing and need no record.
bool JournalEntry(CUpdateJournal& journal, const CString& base, const ArchiveEntry& entry)
{
    const CString name(entry.path);
    if (archive::IsAbsoluteName(name) || archive::HasParentComponent(name)) {
        return true;
    }
    if ((entry.attributes & ARC_ATTR_DIRECTORY) != 0) {
        return journal.RecordNewDirectories(base, name);
    }
    CString directoryPart;
    CString filePart;
    archive::SplitTargetName(name, directoryPart, filePart);
    return journal.RecordNewDirectories(base, directoryPart) &&
           journal.KeepBeforeWrite(base + directoryPart + filePart);
}

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
        const std::uint64_t old = std::filesystem::file_size(platform::NativePath(base + CString(entry.path)), error);
        if (!error) {
            needed = AddCapped(needed, old);
        }
    }
    std::error_code error;
    const auto space = std::filesystem::space(platform::NativePath(base.empty() ? CString(u".") : base), error);
    return !error && space.available >= AddCapped(needed, SpaceMargin(needed));
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
    const std::string text = std::string("phase=") + kPhaseNames[static_cast<int>(phase)] + "\nproduct=" +
                             std::to_string(m_nProduct) + "\npid=" +
                             std::to_string(platform::CurrentProcessId()) + "\n";
    return platform::WriteFileDurably(m_strDir + kPhaseFile, text);
}

bool CUpdateJournal::Begin(const CString& installDir, std::int32_t product)
{
    m_strInstallDir = installDir;
    m_strDir = JournalDir(installDir) + u"\\";
    m_nProduct = product;
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

bool CUpdateJournal::RecordNewDirectories(const CString& base, const CString& directoryPart)
{
    for (std::size_t i = 0; i < directoryPart.size(); ++i) {
        const bool last = i + 1 == directoryPart.size();
        if (directoryPart[i] != u'/' && directoryPart[i] != u'\\' && !last) {
            continue;
        }
        const std::size_t length = (directoryPart[i] == u'/' || directoryPart[i] == u'\\') ? i : i + 1;
        if (length == 0) {
            continue;
        }
        const CString path = base + directoryPart.substr(0, length);
        if (m_recorded.count(path) != 0 || platform::PathExists(path)) {
            continue;
        }
        if (!Record("D " + Escape(platform::Utf16ToUtf8(path)))) {
            return false;
        }
        m_recorded.insert(path);
    }
    return true;
}

bool CUpdateJournal::KeepBeforeWrite(const CString& fullPath)
{
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
    if (!platform::PathExists(fullPath) && !std::filesystem::is_symlink(platform::NativePath(fullPath))) {
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

bool CUpdateJournal::KeepDatabase(const std::string& dbPathUtf8, std::string* errorUtf8)
{
    if (!m_bActive) {
        return false;
    }
    const CString db = platform::Utf8ToUtf16(dbPathUtf8);
    bool kept = false;
    if (!platform::PathExists(db)) {
        // The patch creates it; the old installation had none.
        kept = m_log.Append("N " + Escape(dbPathUtf8));
    } else {
        kept = KeepDatabaseFiles(platform::Utf8ToPath(dbPathUtf8), platform::ToPath(m_strDir + kDatabaseCopy), errorUtf8) &&
               m_log.Append("B " + Escape(dbPathUtf8));
    }
    Checkpoint();
    return kept;
}

bool CUpdateJournal::RollBack()
{
    m_log.Close();
    if (!m_bActive) {
        DiscardNewManifest(m_strInstallDir);
        platform::DeleteFileW(m_strInstallDir + UPDATE_ARCHIVE_FILE);
        return true;
    }
    m_bActive = false;
    return RollBackJournal(m_strInstallDir, platform::CurrentProcessId());
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

JournalRecovery CUpdateJournal::Recover(const CString& installDir)
{
    JournalRecovery recovery;
    platform::RemoveTree(JournalDir(installDir) + kRetiredSuffix);
    if (!platform::PathExists(JournalDir(installDir))) {
        return recovery;
    }
    recovery.found = true;
    const CString dir = JournalDir(installDir) + u"\\";
    const PhaseFile phase = ReadPhaseFile(dir + kPhaseFile);
    recovery.product = phase.product;
    if (phase.readable && phase.phase == JournalPhase::Committed) {
        // The new version is complete; only the run's own clean-up was cut.
        recovery.committed = true;
        platform::DeleteFileW(installDir + UPDATE_SCRIPT_FILE);
        platform::DeleteFileW(installDir + UPDATE_ARCHIVE_FILE);
        // Without the new manifest in place the check would offer the update
        // again, over the patched database: the journal stays until it is.
        // (A manifest already moved was committed by the cut-short run.)
        if (platform::PathExists(installDir + NEW_MANIFEST_FILE) && !CommitNewManifest(installDir)) {
            recovery.clean = false;
            return recovery;
        }
        RemoveJournal(installDir);
        return recovery;
    }
    recovery.clean = RollBackJournal(installDir, phase.pid);
    return recovery;
}

bool UnpackArchive(const CString& archivePath, const CString& baseDir, CUpdateJournal* journal)
{
    CString base = baseDir;
    if (!base.empty() && base.back() != u'/' && base.back() != u'\\') {
        base += u'\\';
    }
    ArchiveHandle* archive = ArchiveOpen(archivePath, nullptr);
    if (archive == nullptr) {
        return false;
    }
    bool complete = ArchiveSetBaseDir(archive, baseDir) == ARC_OK;
    ArchiveEntry entry;
    ArchiveGetEntry(archive, -1, &entry);
    const std::int32_t count = entry.number;
    if (!MayUnpack(archivePath, archive, count, base)) {
        ArchiveClose(archive);
        return false;
    }
    // Entries before this one are journaled already.
    std::int32_t journaled = journal == nullptr ? count : 0;
    if (journal != nullptr) {
        journal->BeginBatch();
        bool kept = true;
        for (; kept && journaled < count; ++journaled) {
            if (ArchiveGetEntry(archive, journaled, &entry) != ARC_OK) {
                break;  // the loop below stops there too, and reports it
            }
            kept = JournalEntry(*journal, base, entry);
        }
        complete = journal->EndBatch() && kept && complete;
        CUpdateJournal::Checkpoint();
    }
    for (std::int32_t index = 0; complete && index < count; ++index) {
        complete = ArchiveGetEntry(archive, index, &entry) == ARC_OK &&
                   (index < journaled || JournalEntry(*journal, base, entry)) &&
                   ArchiveExtractToFile(archive, index, CString(entry.path)) == ARC_OK;
        CUpdateJournal::Checkpoint();
    }
    ArchiveClose(archive);
    return complete;
}

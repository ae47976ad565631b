#include "updater/install/update_db.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/codepage.h"
#include "platform/file_input.h"
#include "platform/path.h"
#include "updater/install/ansi_text.h"

CUpdateDB* g_pUpdateDB = nullptr;

namespace {

// The user-facing texts are ANSI like everything else this component stores, so
// they are converted once rather than kept as UTF-8 literals.
const std::string& OpenFailedText()
{
    static const std::string text = platform::Utf16ToAnsi(u"数据打开失败！");
    return text;
}

const std::string& BadScriptText()
{
    static const std::string text = platform::Utf16ToAnsi(u"sql文件不正确！");
    return text;
}

const std::string& NotInitialisedText()
{
    static const std::string text = platform::Utf16ToAnsi(u"数据未初始化！");
    return text;
}

// The name SQLite is given: UTF-8. SQLite reads a name starting with "file:" as
// a URI when URIs are enabled in the library build; a relative path of ours
// must never be taken for one.
std::string SqliteName(const platform::Path& path)
{
    std::string name = platform::PathUtf8(path);
    if (name.rfind("file:", 0) == 0) {
        name.insert(0, "./");
    }
    return name;
}

// The patch may change the product's database and nothing else: a script
// must not attach another file, nor copy the database anywhere with VACUUM
// INTO (which attaches its target the same way). Attaching nothing ("", the
// way a plain VACUUM attaches its scratch database) or ":memory:" creates no
// file and stays allowed. A refused statement fails like any other, with
// SQLite's "not authorized".
int AuthorizeStatement(void*, int action, const char* file, const char*, const char*, const char*)
{
    if (action != SQLITE_ATTACH) {
        return SQLITE_OK;
    }
    const std::string name = file != nullptr ? file : "";
    return name.empty() || name == ":memory:" ? SQLITE_OK : SQLITE_DENY;
}

// Closes the instance's connection however the patch leaves, so that m_db is null
// after every call.
class ConnectionCloser {
public:
    explicit ConnectionCloser(CUpdateDB& db) : m_owner(db) {}
    ~ConnectionCloser()
    {
        sqlite3_close(m_owner.m_db);
        m_owner.m_db = nullptr;
    }
    ConnectionCloser(const ConnectionCloser&) = delete;
    ConnectionCloser& operator=(const ConnectionCloser&) = delete;

private:
    CUpdateDB& m_owner;
};

CUpdateDB& Instance()
{
    static std::once_flag created;
    std::call_once(created, [] { g_pUpdateDB = new CUpdateDB(); });
    return *g_pUpdateDB;
}

bool ApplyScript(CUpdateDB& db, const platform::Path& dbPath, const platform::Path& scriptPath, int busyTimeoutMs)
{
    ConnectionCloser closer(db);
    // An empty name would make SQLite open a private temporary database, and the
    // patch would "succeed" on it.
    if (dbPath.empty() || sqlite3_open(SqliteName(dbPath).c_str(), &db.m_db) != SQLITE_OK) {
        db.m_error = OpenFailedText();
        return false;
    }

    sqlite3_set_authorizer(db.m_db, AuthorizeStatement, nullptr);
    // The product is asked to stop but not waited for; while it still holds
    // the database, statements wait for it instead of failing as "locked".
    sqlite3_busy_timeout(db.m_db, std::max(busyTimeoutMs, 0));

    std::string script;
    if (ReadScriptFile(scriptPath, script) < 1) {
        db.m_error = BadScriptText();
        return false;
    }
    const std::string scriptUtf8 = AnsiToUtf8(script);

    char* message = nullptr;
    if (sqlite3_exec(db.m_db, scriptUtf8.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        sqlite3_free(message);
        db.SetErrorFromConnection();
        return false;
    }
    return true;
}

}  // namespace

CUpdateDB::CUpdateDB() = default;

CUpdateDB::~CUpdateDB() = default;

std::string CUpdateDB::GetErrorText() const
{
    if (m_db == nullptr) {
        return NotInitialisedText();
    }
    CString text = platform::Utf8ToUtf16(sqlite3_errmsg(m_db));
    // SQLite quotes the offending token, and a script's token may be as long as
    // the script: the failure message must stay a message.
    if (text.size() > DB_ERROR_MAX_UNITS) {
        std::size_t cut = DB_ERROR_MAX_UNITS;
        if (text[cut] >= 0xDC00 && text[cut] < 0xE000) {
            --cut;  // never half a surrogate pair
        }
        text.resize(cut);
        text += u"...";
    }
    return platform::Utf16ToAnsi(text);
}

void CUpdateDB::SetErrorFromConnection() { m_error = GetErrorText(); }

bool PatchLocalDatabase(const platform::Path& dbPath, const platform::Path& scriptPath, int busyTimeoutMs)
{
    try {
        CUpdateDB& db = Instance();
        // Through the native (on Windows, wide) name: an installation folder
        // outside the ANSI code page must not make the script look absent.
        std::error_code absent;
        if (scriptPath.empty() || !std::filesystem::exists(scriptPath, absent)) {
            return true;
        }
        try {
            return ApplyScript(db, dbPath, scriptPath, busyTimeoutMs);
        } catch (...) {
            // The script text could not be brought into SQLite's encoding (or not
            // held in memory): the file is not a usable script.
            db.m_error = BadScriptText();
            return false;
        }
    } catch (...) {
        // Not even the instance could be made; there is nowhere to keep a text.
        return false;
    }
}

bool PatchLocalDatabase(const std::string& dbPathUtf8, const std::string& scriptPathUtf8, int busyTimeoutMs)
{
    return PatchLocalDatabase(platform::Utf8ToPath(dbPathUtf8), platform::Utf8ToPath(scriptPathUtf8), busyTimeoutMs);
}

std::string GetLastDBError()
{
    return g_pUpdateDB != nullptr ? g_pUpdateDB->m_error : std::string();
}

int ReadScriptFile(const std::string& pathUtf8, std::string& out)
{
    return ReadScriptFile(platform::Utf8ToPath(pathUtf8), out);
}

int ReadScriptFile(const platform::Path& path, std::string& out)
{
    out.clear();
    const platform::FileHandle file = platform::OpenFileForReading(path);
    if (file == platform::kInvalidFileHandle) {
        return 0;
    }
    std::int64_t size = 0;
    if (platform::GetFileSize(file, size) && size > 0) {
        out.reserve(static_cast<std::size_t>(size));
    }
    char buffer[1 << 16];
    std::int64_t offset = 0;
    std::int64_t got = 0;
    while ((got = platform::ReadFileAt(file, buffer, sizeof buffer, offset)) > 0) {
        out.append(buffer, static_cast<std::size_t>(got));
        offset += got;
    }
    platform::CloseFileHandle(file);
    // Half a script must never run as if it were the whole one.
    if (got < 0) {
        out.clear();
        return 0;
    }

    // Text-mode input: a CR directly followed by LF arrives as the LF alone; a
    // lone CR stays. Compacted in place, as scripts run to megabytes.
    std::size_t write = 0;
    for (std::size_t read = 0; read < out.size(); ++read) {
        if (out[read] == '\r' && read + 1 < out.size() && out[read + 1] == '\n') {
            continue;
        }
        out[write++] = out[read];
    }
    out.resize(write);
    return static_cast<int>(std::min<std::size_t>(out.size(), INT_MAX));
}

namespace {

// How long a copy waits for another connection's write to end before giving up.
constexpr int BUSY_WAIT_MS = 5000;

class Connection {
public:
    Connection() = default;
    ~Connection() { sqlite3_close(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False (with the reason in `error`) when SQLite cannot open the file.
    bool Open(const std::string& nativePath, int flags, std::string& error)
    {
        if (sqlite3_open_v2(nativePath.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
            error = "cannot open " + nativePath + ": " +
                    (m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory");
            return false;
        }
        sqlite3_busy_timeout(m_db, BUSY_WAIT_MS);
        return true;
    }
    sqlite3* get() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

// Copies every page of `from` into `to` in one step; the connections' busy
// timeouts make it wait for another connection's lock.
bool CopyPages(const Connection& from, const Connection& to, std::string& error)
{
    sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (backup == nullptr) {
        error = sqlite3_errmsg(to.get());
        return false;
    }
    const int rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        error = sqlite3_errstr(rc);
        return false;
    }
    return true;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(platform::Utf8ToPath(a), platform::Utf8ToPath(b), ec) && !ec;
}

bool Fail(std::string* errorUtf8, const std::string& text)
{
    if (errorUtf8 != nullptr) {
        *errorUtf8 = text;
    }
    return false;
}

}  // namespace

bool BackupDatabase(const std::string& dbPathUtf8, const std::string& backupPathUtf8,
                    std::string* errorUtf8)
{
    const std::string dbPath = SqliteName(platform::Utf8ToPath(dbPathUtf8));
    const std::string backupPath = SqliteName(platform::Utf8ToPath(backupPathUtf8));
    std::string error;
    if (dbPathUtf8.empty() || backupPathUtf8.empty()) {
        return Fail(errorUtf8, "no database or copy path given");
    }
    if (SameFile(dbPath, backupPath)) {
        return Fail(errorUtf8, "the copy would overwrite the database itself: " + dbPath);
    }
    // Read-only, so that a missing database is reported rather than created empty.
    Connection source;
    if (!source.Open(dbPath, SQLITE_OPEN_READONLY, error)) {
        return Fail(errorUtf8, "database copy failed: " + error);
    }
    // Whatever an earlier run left at the copy's place (even a damaged file) goes.
    std::error_code removed;
    std::filesystem::remove(platform::Utf8ToPath(backupPath), removed);
    std::filesystem::remove(platform::Utf8ToPath(backupPath + "-journal"), removed);
    bool copied = false;
    {
        Connection target;
        copied = target.Open(backupPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error) &&
                 CopyPages(source, target, error);
    }
    if (!copied) {
        std::error_code ec;
        std::filesystem::remove(platform::Utf8ToPath(backupPath), ec);
        std::filesystem::remove(platform::Utf8ToPath(backupPath + "-journal"), ec);
        return Fail(errorUtf8, "database copy failed: " + dbPath + " -> " + backupPath + ": " + error);
    }
    return true;
}

bool RestoreDatabase(const std::string& backupPathUtf8, const std::string& dbPathUtf8,
                     std::string* errorUtf8)
{
    const std::string backupPath = SqliteName(platform::Utf8ToPath(backupPathUtf8));
    const std::string dbPath = SqliteName(platform::Utf8ToPath(dbPathUtf8));
    std::string error;
    if (dbPathUtf8.empty() || backupPathUtf8.empty()) {
        return Fail(errorUtf8, "no database or copy path given");
    }
    if (SameFile(dbPath, backupPath)) {
        return Fail(errorUtf8, "the copy and the database are the same file: " + dbPath);
    }
    Connection source;
    Connection target;
    if (!source.Open(backupPath, SQLITE_OPEN_READONLY, error) ||
        !target.Open(dbPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error) ||
        !CopyPages(source, target, error)) {
        return Fail(errorUtf8, "database restore failed: " + backupPath + " -> " + dbPath + ": " + error);
    }
    return true;
}

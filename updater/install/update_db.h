// Applying an update's SQL script to the product's local SQLite database, and
// keeping a copy of that database aside while it is patched.
#pragma once

#include <cstddef>
#include <string>

#include "platform/path.h"

struct sqlite3;

// The longest SQLite message kept as error text, in characters.
constexpr std::size_t DB_ERROR_MAX_UNITS = 512;
// How long a statement of the patch waits for another connection's lock
// (the product still shutting down) before it fails as "database is locked".
constexpr int DB_BUSY_TIMEOUT_MS = 10000;

// Holds the connection during one patch and the last error text.
// Every narrow text here is ANSI (code page 936) unless its name says UTF-8.
class CUpdateDB {
public:
    CUpdateDB();
    virtual ~CUpdateDB();
    CUpdateDB(const CUpdateDB&) = delete;
    CUpdateDB& operator=(const CUpdateDB&) = delete;

    // SQLite's message for the open connection, converted from UTF-8 to ANSI
    // and cut to DB_ERROR_MAX_UNITS characters followed by "..." when longer;
    // "数据未初始化！" (ANSI) when there is no connection.
    std::string GetErrorText() const;
    // m_error = GetErrorText().
    void SetErrorFromConnection();

    sqlite3* m_db = nullptr;  // open only inside one PatchLocalDatabase call
    std::string m_error;      // ANSI; the last failure's text, kept across successes
};

// The process-wide instance: null until the first PatchLocalDatabase call, never
// released before the process ends.
extern CUpdateDB* g_pUpdateDB;

// Runs the whole script (ANSI text, CR LF read as LF, ending at a NUL byte) on
// the database in one go. The paths are carried as they are to the file system
// and, as UTF-8, to SQLite, so that any installation folder works.
// True: no script file (the database is neither opened nor created), or every
// statement ran. False: the database could not be opened, the script is empty or
// unreadable, or a statement failed; statements before the failing one stay
// applied unless the script's own transaction covers them. A statement that
// would attach another file (ATTACH, VACUUM INTO) fails as "not authorized".
// A lock held by another connection is waited for up to busyTimeoutMs. On
// false, GetLastDBError() says why. Never throws.
bool PatchLocalDatabase(const platform::Path& dbPath, const platform::Path& scriptPath,
                        int busyTimeoutMs = DB_BUSY_TIMEOUT_MS);
// The same for paths held as narrow text: both UTF-8 (the file system's own
// encoding, never ANSI), either separator.
bool PatchLocalDatabase(const std::string& dbPathUtf8, const std::string& scriptPathUtf8,
                        int busyTimeoutMs = DB_BUSY_TIMEOUT_MS);

// A copy of the process-wide instance's error text (ANSI); empty before the
// first patch request.
std::string GetLastDBError();

// Reads the file into `out` as narrow text, CR LF turned into LF, NUL bytes
// kept. Returns the number of characters in `out`; 0 (and `out` empty) when
// the file cannot be opened or read. The narrow path is UTF-8.
int ReadScriptFile(const platform::Path& path, std::string& out);
int ReadScriptFile(const std::string& pathUtf8, std::string& out);

// Both paths below are UTF-8 and may use "\" separators; error texts are UTF-8.
//
// Copies the database at dbPathUtf8 into backupPathUtf8 (created or overwritten)
// with SQLite's online backup, so another process may keep the database open
// meanwhile; waits up to 5 s for another connection's lock. False (and
// *errorUtf8 set, when given) when the database does not exist, cannot be read,
// or the copy cannot be written; a partly written copy is then removed.
bool BackupDatabase(const std::string& dbPathUtf8, const std::string& backupPathUtf8,
                    std::string* errorUtf8 = nullptr);

// Puts the content of the copy at backupPathUtf8 back into the database at
// dbPathUtf8, page for page, through SQLite (other connections to the database
// see the restored content). False (and *errorUtf8 set) when the copy does not
// exist or is not a database, or the database stayed locked; the database is then
// unchanged. The copy is left in place either way. Either call refuses a copy
// that is the database file itself.
bool RestoreDatabase(const std::string& backupPathUtf8, const std::string& dbPathUtf8,
                     std::string* errorUtf8 = nullptr);

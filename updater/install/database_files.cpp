#include "updater/install/database_files.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/durable_file.h"
#include "platform/path.h"

namespace {

constexpr int kBusyMilliseconds = 5000;
constexpr const char* kSidecars[] = {"-wal", "-shm", "-journal"};

using platform::Path;

// The database's companion files are named by a suffix on the whole path.
Path WithSuffix(const Path& path, const char* suffix)
{
    Path named = path;
    named += suffix;
    return named;
}

bool ReadBytes(const Path& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    bytes = out.str();
    return !in.bad();
}

bool Exists(const Path& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void Remove(const Path& path)
{
    std::error_code error;
    std::filesystem::remove(path, error);
}

// One connection, closed when it leaves scope.
class Connection {
public:
    Connection(const Path& path, std::string* error) : m_error(error)
    {
        if (sqlite3_open_v2(platform::PathUtf8(path).c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            Fail();
            sqlite3_close(m_db);
            m_db = nullptr;
            return;
        }
        sqlite3_busy_timeout(m_db, kBusyMilliseconds);
    }
    ~Connection() { sqlite3_close(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Run(const char* sql)
    {
        if (m_db == nullptr) {
            return false;
        }
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            Fail();
            return false;
        }
        return true;
    }

private:
    void Fail()
    {
        if (m_error != nullptr) {
            *m_error = m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory";
        }
    }

    sqlite3* m_db = nullptr;
    std::string* m_error;
};

void SetError(std::string* error, const std::string& text)
{
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

bool KeepDatabaseFiles(const Path& dbPath, const Path& copyPath, std::string* error)
{
    Connection connection(dbPath, error);
    if (!connection.Run("BEGIN IMMEDIATE")) {
        return false;
    }
    std::string database;
    std::string wal;
    // An empty log holds nothing; keeping it would only add a file.
    std::error_code sizeError;
    const Path dbWal = WithSuffix(dbPath, "-wal");
    const Path copyWal = WithSuffix(copyPath, "-wal");
    const bool hasWal = Exists(dbWal) && std::filesystem::file_size(dbWal, sizeError) > 0;
    bool kept = ReadBytes(dbPath, database) && (!hasWal || ReadBytes(dbWal, wal));
    if (!kept) {
        SetError(error, "cannot read " + platform::PathUtf8(dbPath));
    } else {
        kept = platform::WriteFileDurably(copyPath, database) && (!hasWal || platform::WriteFileDurably(copyWal, wal));
        if (!hasWal) {
            Remove(copyWal);
        }
        if (!kept) {
            SetError(error, "cannot write " + platform::PathUtf8(copyPath));
        }
    }
    connection.Run("ROLLBACK");
    return kept;
}

bool RestoreDatabaseFiles(const Path& copyPath, const Path& dbPath, std::string* error)
{
    std::string database;
    std::string wal;
    const bool hasWal = Exists(WithSuffix(copyPath, "-wal"));
    if (!ReadBytes(copyPath, database) || (hasWal && !ReadBytes(WithSuffix(copyPath, "-wal"), wal))) {
        SetError(error, "cannot read " + platform::PathUtf8(copyPath));
        return false;
    }
    {
        std::optional<Connection> connection;
        if (Exists(dbPath)) {
            connection.emplace(dbPath, error);
            // A hot rollback journal is played back by the first read, here.
            if (!connection->Run("PRAGMA journal_mode=DELETE") || !connection->Run("BEGIN EXCLUSIVE")) {
                return false;
            }
        }
        std::error_code statError;
        const auto permissions = std::filesystem::status(dbPath, statError).permissions();
        // Written while the lock is held, over the file the connection has open.
        if (!platform::OverwriteFileDurably(dbPath, database)) {
            SetError(error, "cannot write " + platform::PathUtf8(dbPath));
            return false;
        }
        if (!statError && permissions != std::filesystem::perms::unknown) {
            std::filesystem::permissions(dbPath, permissions, statError);  // the new file is 0644
        }
    }
    for (const char* suffix : kSidecars) {
        Remove(WithSuffix(dbPath, suffix));
    }
    if (hasWal && !platform::WriteFileDurably(WithSuffix(dbPath, "-wal"), wal)) {
        SetError(error, "cannot write " + platform::PathUtf8(WithSuffix(dbPath, "-wal")));
        return false;
    }
    return true;
}

#include "updater/install/database_files.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/codepage.h"
#include "platform/durable_file.h"
#include "platform/files.h"

namespace {

constexpr int kBusyMilliseconds = 5000;
constexpr const char* kSidecars[] = {"-wal", "-shm", "-journal"};

bool ReadBytes(const std::string& path, std::string& bytes)
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

bool Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void Remove(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove(path, error);
}

bool WriteDurably(const std::string& path, const std::string& bytes)
{
    return platform::WriteFileDurably(platform::Utf8ToUtf16(path), bytes);  // already native
}

// One connection, closed when it leaves scope.
class Connection {
public:
    Connection(const std::string& path, std::string* error) : m_error(error)
    {
        if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
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

// The journal builds its paths with "\\" separators.
std::string Native(const std::string& path)
{
    return platform::NativePath(platform::Utf8ToUtf16(path));
}

}  // namespace

bool KeepDatabaseFiles(const std::string& dbPathGiven, const std::string& copyPathGiven, std::string* error)
{
    const std::string dbPath = Native(dbPathGiven);
    const std::string copyPath = Native(copyPathGiven);
    Connection connection(dbPath, error);
    if (!connection.Run("BEGIN IMMEDIATE")) {
        return false;
    }
    std::string database;
    std::string wal;
    // An empty log holds nothing; keeping it would only add a file.
    std::error_code sizeError;
    const bool hasWal = Exists(dbPath + "-wal") && std::filesystem::file_size(dbPath + "-wal", sizeError) > 0;
    bool kept = ReadBytes(dbPath, database) && (!hasWal || ReadBytes(dbPath + "-wal", wal));
    if (!kept) {
        SetError(error, "cannot read " + dbPath);
    } else {
        kept = WriteDurably(copyPath, database) && (!hasWal || WriteDurably(copyPath + "-wal", wal));
        if (!hasWal) {
            Remove(copyPath + "-wal");
        }
        if (!kept) {
            SetError(error, "cannot write " + copyPath);
        }
    }
    connection.Run("ROLLBACK");
    return kept;
}

bool RestoreDatabaseFiles(const std::string& copyPathGiven, const std::string& dbPathGiven, std::string* error)
{
    const std::string dbPath = Native(dbPathGiven);
    const std::string copyPath = Native(copyPathGiven);
    std::string database;
    std::string wal;
    const bool hasWal = Exists(copyPath + "-wal");
    if (!ReadBytes(copyPath, database) || (hasWal && !ReadBytes(copyPath + "-wal", wal))) {
        SetError(error, "cannot read " + copyPath);
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
        if (!WriteDurably(dbPath, database)) {
            SetError(error, "cannot write " + dbPath);
            return false;
        }
        if (!statError && permissions != std::filesystem::perms::unknown) {
            std::filesystem::permissions(dbPath, permissions, statError);  // the new file is 0644
        }
    }
    for (const char* suffix : kSidecars) {
        Remove(dbPath + suffix);
    }
    if (hasWal && !WriteDurably(dbPath + "-wal", wal)) {
        SetError(error, "cannot write " + dbPath + "-wal");
        return false;
    }
    return true;
}

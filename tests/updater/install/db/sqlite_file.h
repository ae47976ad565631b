// A direct SQLite connection for tests: sets up databases and reads them back
// independently of the code under test.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace testsupport {

class SqliteFile {
public:
    explicit SqliteFile(const std::string& path);
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    // Runs SQL (UTF-8); fails the current test when SQLite refuses it.
    void Exec(const std::string& sql);
    // Every row of the query, its columns joined with "|"; fails the test on error.
    std::vector<std::string> Rows(const std::string& sql);
    sqlite3* get() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

}  // namespace testsupport

#include "sqlite_file.h"

#include <gtest/gtest.h>

namespace testsupport {

SqliteFile::SqliteFile(const std::string& path)
{
    if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path << ": " << sqlite3_errmsg(m_db);
    }
}

SqliteFile::~SqliteFile() { sqlite3_close(m_db); }

void SqliteFile::Exec(const std::string& sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        ADD_FAILURE() << "SQL refused: " << sql << ": " << (message != nullptr ? message : "?");
    }
    sqlite3_free(message);
}

std::vector<std::string> SqliteFile::Rows(const std::string& sql)
{
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "query refused: " << sql << ": " << sqlite3_errmsg(m_db);
        return rows;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            if (column > 0) {
                row += "|";
            }
            const auto* text = sqlite3_column_text(statement, column);
            row += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
}

}  // namespace testsupport

// SQL scripts an update archive may bring: 100 MB long, or with a NUL byte in
// the middle. Real scripts on real SQLite files.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "updater/install/update_db.h"

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

constexpr std::size_t kMegabyte = 1024 * 1024;

class HostileSqlScript : public ::testing::Test {
protected:
    std::string Db() const { return m_dir / "jo_db_local.db"; }
    std::string Script() const { return m_dir / "update.sql"; }

    // Writes head, `fill` repeated to 100 MB, then tail.
    void WriteHugeScript(const std::string& head, char fill, const std::string& tail)
    {
        std::ofstream out(Script(), std::ios::binary | std::ios::trunc);
        out << head;
        const std::string chunk(kMegabyte, fill);
        for (int i = 0; i < 100; ++i) {
            out << chunk;
        }
        out << tail;
        ASSERT_TRUE(out.good());
    }

    bool Patch()
    {
        fs::remove(Db());
        return PatchLocalDatabase(Db(), Script());
    }

    // Every row of `query`, each row's columns joined by "|"; one entry
    // "error: ..." when the query fails.
    std::vector<std::string> Rows(const std::string& query) const
    {
        sqlite3* db = nullptr;
        std::vector<std::string> rows;
        if (sqlite3_open_v2(Db().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return {"error: cannot open"};
        }
        char* message = nullptr;
        const int result = sqlite3_exec(
            db, query.c_str(),
            [](void* user, int columns, char** values, char**) {
                std::string row;
                for (int i = 0; i < columns; ++i) {
                    row += (i > 0 ? "|" : "") + std::string(values[i] != nullptr ? values[i] : "NULL");
                }
                static_cast<std::vector<std::string>*>(user)->push_back(row);
                return 0;
            },
            &rows, &message);
        if (result != SQLITE_OK) {
            rows = {"error: " + std::string(message != nullptr ? message : "")};
        }
        sqlite3_free(message);
        sqlite3_close(db);
        return rows;
    }

    testsupport::TempDir m_dir;
};

TEST_F(HostileSqlScript, HundredMegabyteScriptRunsToItsLastStatement)
{
    WriteHugeScript("CREATE TABLE t(x);\r\nINSERT INTO t VALUES(1);\r\n/*", 'c', "*/\r\nINSERT INTO t VALUES(2);\r\n");

    EXPECT_TRUE(Patch()) << GetLastDBError();
    EXPECT_EQ(Rows("SELECT x FROM t ORDER BY x"), (std::vector<std::string>{"1", "2"}))
        << "the statement after 100 MB of comment ran";
}

TEST_F(HostileSqlScript, HundredMegabyteTokenFailsWithAMessageThatStaysShort)
{
    WriteHugeScript("CREATE TABLE t(x);\n", 'x', ";\nINSERT INTO t VALUES(1);\n");

    EXPECT_FALSE(Patch());
    const std::string error = GetLastDBError();
    EXPECT_EQ(error.rfind("near \"xxxx", 0), 0u) << "SQLite's message names the token: " << error.substr(0, 80);
    EXPECT_LE(error.size(), DB_ERROR_MAX_UNITS + 3) << "the failure message shows a cut text, not 100 MB";
    EXPECT_EQ(error.substr(error.size() - 3), "...") << "the cut is marked";
    EXPECT_EQ(Rows("SELECT count(*) FROM t"), std::vector<std::string>{"0"})
        << "the statement before the token stays applied, the one after never ran";
}

TEST_F(HostileSqlScript, NulByteEndsTheScriptWhereverItStands)
{
    const struct {
        std::string script;
        bool result;
        std::vector<std::string> rows;  // of SELECT x FROM t
    } rows[] = {
        // Between statements: the rest is never run.
        {"CREATE TABLE t(x);\nINSERT INTO t VALUES(1);\n\0INSERT INTO t VALUES(2);\n"s, true, {"1"}},
        // Inside a string literal: the cut literal is an error, and the
        // statements before it stay.
        {"CREATE TABLE t(x);\nINSERT INTO t VALUES('a\0b');\nINSERT INTO t VALUES(3);\n"s, false, {}},
        // Inside a comment that the NUL leaves open: nothing after it runs.
        {"CREATE TABLE t(x);\n/* \0 */ INSERT INTO t VALUES(4);\n"s, true, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        std::ofstream(Script(), std::ios::binary | std::ios::trunc) << row.script;
        EXPECT_EQ(Patch(), row.result) << GetLastDBError();
        EXPECT_EQ(Rows("SELECT x FROM t ORDER BY rowid"), row.rows);
    }
}

TEST_F(HostileSqlScript, NoStatementReachesAFileBesidesTheDatabase)
{
    testsupport::TempDir elsewhere;
    const std::string outside = (elsewhere.path() / "stolen.db").string();
    const struct {
        std::string script;
        bool result;
    } rows[] = {
        {"CREATE TABLE t(x);\nATTACH '" + outside + "' AS o;\nCREATE TABLE o.t(x);\n", false},
        {"CREATE TABLE t(x);\nATTACH 'file:" + outside + "?mode=rwc' AS o;\n", false},
        {"CREATE TABLE t(x);\nVACUUM INTO '" + outside + "';\n", false},
        {"CREATE TABLE t(x);\nVACUUM INTO '" + Db() + "-copy';\n", false},
        // Nothing outside is touched by these: they stay allowed.
        {"CREATE TABLE t(x);\nVACUUM;\nATTACH ':memory:' AS m;\nCREATE TABLE m.s(x);\nINSERT INTO t VALUES(1);\n",
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        std::ofstream(Script(), std::ios::binary | std::ios::trunc) << row.script;
        EXPECT_EQ(Patch(), row.result) << GetLastDBError();
        if (!row.result) {
            // "not authorized", or for VACUUM INTO "authorization denied"
            EXPECT_NE(GetLastDBError().find("authori"), std::string::npos) << GetLastDBError();
        }
        EXPECT_TRUE(fs::is_empty(elsewhere.path()));
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"jo_db_local.db", "update.sql"}));
    }
}

}  // namespace

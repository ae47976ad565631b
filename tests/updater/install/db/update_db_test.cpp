#include "updater/install/update_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/path.h"
#include "sqlite_file.h"
#include "support/temp_dir.h"
#include "updater/install/ansi_text.h"

using testsupport::SqliteFile;
using testsupport::TempDir;
using testsupport::U16;
using testsupport::WriteFileBytes;

namespace {

using namespace std::string_literals;

// The fixed texts as code page 936 bytes, spelled out independently of the code.
const std::string OPEN_FAILED = "\xca\xfd\xbe\xdd\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc\xa3\xa1";  // 数据打开失败！
const std::string BAD_SCRIPT = "sql\xce\xc4\xbc\xfe\xb2\xbb\xd5\xfd\xc8\xb7\xa3\xa1";        // sql文件不正确！
const std::string NOT_INITIALISED = "\xca\xfd\xbe\xdd\xce\xb4\xb3\xf5\xca\xbc\xbb\xaf\xa3\xa1";  // 数据未初始化！
const std::string ZHANG_SAN_GBK = "\xd5\xc5\xc8\xfd";   // 张三
const std::string ZHANG_SAN_UTF8 = "\xe5\xbc\xa0\xe4\xb8\x89";

// The install step passes both paths as they are, in the file system's encoding.
std::string ScriptArg(const std::string& pathUtf8) { return pathUtf8; }
std::string DatabaseArg(const std::string& pathUtf8) { return pathUtf8; }

class PatchLocalDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SqliteFile db(Db());
        db.Exec("CREATE TABLE t(v TEXT)");
    }
    std::string Db() const { return m_dir / "jo_db_local.db"; }
    std::string Script() const { return m_dir / "update.sql"; }

    bool Patch(const std::string& scriptBytes)
    {
        WriteFileBytes(Script(), scriptBytes);
        return PatchLocalDatabase(DatabaseArg(Db()), ScriptArg(Script()));
    }
    std::vector<std::string> Values() { return SqliteFile(Db()).Rows("SELECT v FROM t ORDER BY rowid"); }

    static void ExpectConnectionClosed()
    {
        ASSERT_NE(g_pUpdateDB, nullptr) << "a patch request creates the process-wide instance";
        EXPECT_EQ(g_pUpdateDB->m_db, nullptr) << "the connection must be closed when the patch returns";
    }

    TempDir m_dir;
};

TEST_F(PatchLocalDatabaseTest, MissingScriptSucceedsWithoutCreatingTheDatabase)
{
    const std::string absent = m_dir / "absent.db";
    EXPECT_TRUE(PatchLocalDatabase(DatabaseArg(absent), ScriptArg(m_dir / "no-such.sql")));
    EXPECT_FALSE(std::filesystem::exists(absent)) << "no script, so the database must not be created";
    ExpectConnectionClosed();
}

TEST_F(PatchLocalDatabaseTest, StopsAtTheStatementNamingAMissingTable)
{
    EXPECT_FALSE(Patch("INSERT INTO t VALUES('first');\n"
                       "INSERT INTO missing_table VALUES('second');\n"
                       "INSERT INTO t VALUES('third');\n"));
    EXPECT_EQ(Values(), std::vector<std::string>{"first"}) << "the first statement stays, the third never runs";
    EXPECT_EQ(GetLastDBError(), "no such table: missing_table");
    ExpectConnectionClosed();
}

TEST_F(PatchLocalDatabaseTest, CreatesAMissingDatabaseAndRunsTheScriptOnIt)
{
    const std::string fresh = m_dir / "fresh.db";
    WriteFileBytes(Script(), "CREATE TABLE jobs(title TEXT); INSERT INTO jobs VALUES('clerk');");
    EXPECT_TRUE(PatchLocalDatabase(DatabaseArg(fresh), ScriptArg(Script())));
    EXPECT_EQ(SqliteFile(fresh).Rows("SELECT title FROM jobs"), std::vector<std::string>{"clerk"});
    ExpectConnectionClosed();
}

TEST_F(PatchLocalDatabaseTest, ScriptsWithoutUsableTextFailWithTheScriptText)
{
    EXPECT_FALSE(Patch(""));
    EXPECT_EQ(GetLastDBError(), BAD_SCRIPT) << "an empty script is refused with the GBK text sql文件不正确！";
    ExpectConnectionClosed();

    std::filesystem::remove(Script());
    std::filesystem::create_directory(Script());
    EXPECT_FALSE(PatchLocalDatabase(DatabaseArg(Db()), ScriptArg(Script())));
    EXPECT_EQ(GetLastDBError(), BAD_SCRIPT) << "a script that cannot be read is refused the same way";
    ExpectConnectionClosed();
}

TEST_F(PatchLocalDatabaseTest, DatabaseThatCannotBeOpenedFailsWithTheOpenText)
{
    WriteFileBytes(Script(), "INSERT INTO t VALUES('x');");
    for (const std::string& db : {m_dir / "no-such-folder/jo_db_local.db", std::string()}) {
        EXPECT_FALSE(PatchLocalDatabase(DatabaseArg(db), ScriptArg(Script()))) << "database path: " << db;
        EXPECT_EQ(GetLastDBError(), OPEN_FAILED) << "expected the GBK text 数据打开失败！ for " << db;
        ExpectConnectionClosed();
    }
    EXPECT_TRUE(Values().empty());
}

TEST_F(PatchLocalDatabaseTest, Cp936LiteralsArriveAsUtf8)
{
    EXPECT_TRUE(Patch("INSERT INTO t VALUES('" + ZHANG_SAN_GBK + "');"));
    EXPECT_EQ(Values(), std::vector<std::string>{ZHANG_SAN_UTF8});
    ExpectConnectionClosed();
}

TEST_F(PatchLocalDatabaseTest, Utf8ScriptIsTakenForCp936Text)
{
    EXPECT_TRUE(Patch("INSERT INTO t VALUES('" + ZHANG_SAN_UTF8 + "');"));
    const std::vector<std::string> values = Values();
    ASSERT_EQ(values.size(), 1U);
    EXPECT_NE(values[0], ZHANG_SAN_UTF8) << "UTF-8 bytes are read as GBK, so the text must arrive altered";
    EXPECT_EQ(values[0], AnsiToUtf8(ZHANG_SAN_UTF8));

    // A byte-order mark turns into GBK characters glued to the first keyword.
    EXPECT_FALSE(Patch("\xef\xbb\xbfINSERT INTO t VALUES('bom');"));
    EXPECT_EQ(Values().size(), 1U);
}

TEST_F(PatchLocalDatabaseTest, LineEndsAndNulBytesShapeTheScriptText)
{
    struct Case {
        const char* what;
        std::string script;
        std::vector<std::string> values;
    };
    const std::vector<Case> cases{
        {"CR LF arrives as LF", std::string("INSERT INTO t VALUES('a\r\nb');\r\n"), {"a\nb"}},
        {"a lone CR stays", std::string("INSERT INTO t VALUES('c\rd');"), {"c\rd"}},
        {"a NUL ends the script", "INSERT INTO t VALUES('e');\0INSERT INTO t VALUES('f');"s,
         {"e"}},
        {"a leading NUL leaves nothing to run", "\0INSERT INTO t VALUES('g');"s, {}},
    };
    for (const Case& c : cases) {
        SqliteFile(Db()).Exec("DELETE FROM t");
        EXPECT_TRUE(Patch(c.script)) << c.what;
        EXPECT_EQ(Values(), c.values) << c.what;
    }
}

TEST_F(PatchLocalDatabaseTest, ChineseTableNameReadsRightInTheErrorText)
{
    EXPECT_FALSE(Patch("SELECT * FROM \xd6\xb0\xce\xbb\xb1\xed;"));  // 职位表 in GBK
    EXPECT_EQ(GetLastDBError(), "no such table: \xd6\xb0\xce\xbb\xb1\xed") << "the stored text must be GBK";
    EXPECT_EQ(AnsiToCString(GetLastDBError()), u"no such table: 职位表");
    ExpectConnectionClosed();
}

TEST_F(PatchLocalDatabaseTest, FindsFilesThroughBackslashPathsInAChineseFolder)
{
    // Named in UTF-16 and handed on as UTF-8, so that no system's narrow code
    // page stands between the name and the file.
    const std::filesystem::path install = m_dir.path() / std::filesystem::path(u"升级");
    std::filesystem::create_directories(install / "ini");
    WriteFileBytes(install / "ini" / "update.sql", "CREATE TABLE k(v); INSERT INTO k VALUES(1);");
    const std::string base = platform::PathUtf8(install) + "\\";
    EXPECT_TRUE(PatchLocalDatabase(DatabaseArg(base + "jo_db_local.db"), ScriptArg(base + "ini\\update.sql")));
    EXPECT_EQ(SqliteFile(platform::PathUtf8(install / "jo_db_local.db")).Rows("SELECT v FROM k"),
              std::vector<std::string>{"1"});
}

// A path never passes through code page 936, which has no "ß" and no emoji.
TEST_F(PatchLocalDatabaseTest, PathsTheCodePageCannotSpellReachScriptAndDatabase)
{
    const platform::Path install = m_dir.path() / "Stra\xc3\x9f" "e \xf0\x9f\x98\x80";
    std::filesystem::create_directories(install / "ini");
    WriteFileBytes(install / "ini" / "update.sql", "CREATE TABLE k(v); INSERT INTO k VALUES(1);");
    EXPECT_TRUE(PatchLocalDatabase(install / "jo_db_local.db", install / "ini" / "update.sql"));
    EXPECT_EQ(SqliteFile((install / "jo_db_local.db").string()).Rows("SELECT v FROM k"),
              std::vector<std::string>{"1"});
}

TEST(CUpdateDBTest, ErrorTextWithoutAConnectionIsTheNotInitialisedText)
{
    CUpdateDB db;
    EXPECT_TRUE(db.m_error.empty());
    EXPECT_EQ(db.GetErrorText(), NOT_INITIALISED) << "expected the GBK text 数据未初始化！";
    db.SetErrorFromConnection();
    EXPECT_EQ(db.m_error, NOT_INITIALISED);
}

TEST(ReadScriptFileTest, TranslatesCrLfAndKeepsEveryOtherByte)
{
    TempDir dir;
    const std::string path = dir / "s.sql";
    struct Case {
        std::string bytes;
        std::string text;
    };
    const std::vector<Case> cases{
        {"a\r\nb", "a\nb"},
        {"\r\r\n", "\r\n"},
        {"a\0b"s, "a\0b"s},
        {ZHANG_SAN_GBK + "\r\n", ZHANG_SAN_GBK + "\n"},
    };
    for (const Case& c : cases) {
        WriteFileBytes(path, c.bytes);
        std::string out = "left over";
        EXPECT_EQ(ReadScriptFile(ScriptArg(path), out), static_cast<int>(c.text.size()));
        EXPECT_EQ(out, c.text);
    }
    std::string out = "left over";
    EXPECT_EQ(ReadScriptFile(ScriptArg(dir / "missing.sql"), out), 0);
    EXPECT_TRUE(out.empty()) << "the output is emptied even when the file cannot be opened";
}

}  // namespace

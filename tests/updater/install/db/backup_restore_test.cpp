#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sqlite_file.h"
#include "support/temp_dir.h"
#include "updater/install/database_files.h"
#include "updater/install/update_db.h"

using testsupport::ReadFileBytes;
using testsupport::SqliteFile;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

const std::vector<std::string> OLD_ROWS{"1|clerk", "2|driver", "3|cook"};
const char* const ALL_ROWS = "SELECT id, title FROM jobs ORDER BY id";
const char* const ALL_TABLES = "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name";

class BackupRestoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SqliteFile db(Db());
        db.Exec("CREATE TABLE jobs(id INTEGER PRIMARY KEY, title TEXT);"
                "INSERT INTO jobs VALUES(1, 'clerk'), (2, 'driver'), (3, 'cook');");
    }
    std::string Db() const { return m_dir / "jo_db_local.db"; }
    std::string Copy() const { return m_dir / "jo_db_local.db.bak"; }
    std::string Script() const { return m_dir / "update.sql"; }

    TempDir m_dir;
};

TEST_F(BackupRestoreTest, FailedPatchThenRestoreGivesBackExactlyTheOldRows)
{
    // The product keeps its own connection open throughout.
    SqliteFile product(Db());
    ASSERT_EQ(product.Rows(ALL_ROWS), OLD_ROWS);

    std::string error;
    ASSERT_TRUE(BackupDatabase(Db(), Copy(), &error)) << error;
    WriteFileBytes(Script(), "INSERT INTO jobs VALUES(4, 'nurse');\n"
                             "UPDATE jobs SET title = 'chef' WHERE id = 3;\n"
                             "DELETE FROM jobs WHERE id = 1;\n"
                             "CREATE TABLE added(x);\n"
                             "INSERT INTO no_such_table VALUES(1);\n");
    ASSERT_FALSE(PatchLocalDatabase(Db(), Script()));
    ASSERT_EQ(product.Rows(ALL_ROWS), (std::vector<std::string>{"2|driver", "3|chef", "4|nurse"}))
        << "the statements before the failing one are applied";

    ASSERT_TRUE(RestoreDatabase(Copy(), Db(), &error)) << error;
    EXPECT_EQ(product.Rows(ALL_ROWS), OLD_ROWS) << "the product's open connection sees the old rows again";
    EXPECT_EQ(product.Rows(ALL_TABLES), std::vector<std::string>{"jobs"}) << "the added table is gone";
    EXPECT_EQ(SqliteFile(Db()).Rows(ALL_ROWS), OLD_ROWS);
    EXPECT_EQ(SqliteFile(Db()).Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_TRUE(std::filesystem::exists(Copy())) << "the copy is left for the caller to remove";
}

TEST_F(BackupRestoreTest, BackupOfAMissingDatabaseFailsAndCreatesNothing)
{
    const std::string missing = m_dir / "missing.db";
    std::string error;
    EXPECT_FALSE(BackupDatabase(missing, Copy(), &error));
    EXPECT_NE(error.find("missing.db"), std::string::npos) << "the error names the database: " << error;
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(Copy())) << "no half copy may be left behind";
}

TEST_F(BackupRestoreTest, RestoreFromAnUnusableCopyLeavesTheDatabaseUnchanged)
{
    const std::string before = ReadFileBytes(Db());
    const std::string notADatabase = m_dir / "garbage.bak";
    WriteFileBytes(notADatabase, std::string(8192, 'x'));
    for (const std::string& copy : {m_dir / "absent.bak", notADatabase}) {
        std::string error;
        EXPECT_FALSE(RestoreDatabase(copy, Db(), &error)) << "restoring from " << copy;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFileBytes(Db()), before) << "the database must keep its bytes after restoring from " << copy;
    }
}

TEST_F(BackupRestoreTest, BackupReplacesWhateverAnEarlierRunLeftAtTheCopyPath)
{
    WriteFileBytes(Copy(), std::string(8192, 'x'));
    WriteFileBytes(Copy() + "-journal", std::string(512, 'y'));
    std::string error;
    ASSERT_TRUE(BackupDatabase(Db(), Copy(), &error)) << error;
    EXPECT_EQ(SqliteFile(Copy()).Rows(ALL_ROWS), OLD_ROWS);
}

TEST_F(BackupRestoreTest, RefusesToCopyADatabaseOntoItself)
{
    std::string error;
    EXPECT_FALSE(BackupDatabase(Db(), Db(), &error));
    EXPECT_FALSE(RestoreDatabase(Db(), m_dir.path().string() + "/./jo_db_local.db", &error));
    EXPECT_EQ(SqliteFile(Db()).Rows(ALL_ROWS), OLD_ROWS);
}

TEST_F(BackupRestoreTest, BackupWaitsForAnExclusiveWriterAndCopiesWhatItCommitted)
{
    SqliteFile writer(Db());
    writer.Exec("BEGIN EXCLUSIVE; INSERT INTO jobs VALUES(5, 'pilot');");
    std::thread commit([&writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        writer.Exec("COMMIT");
    });
    std::string error;
    const bool copied = BackupDatabase(Db(), Copy(), &error);
    commit.join();
    ASSERT_TRUE(copied) << error;
    EXPECT_EQ(SqliteFile(Copy()).Rows(ALL_ROWS),
              (std::vector<std::string>{"1|clerk", "2|driver", "3|cook", "5|pilot"}));
}

TEST_F(BackupRestoreTest, AcceptsBackslashSeparatedPaths)
{
    std::filesystem::create_directory(m_dir.path() / "saved");
    const std::string copy = m_dir.path().string() + "\\saved\\db.bak";
    std::string error;
    ASSERT_TRUE(BackupDatabase(Db(), copy, &error)) << error;
    EXPECT_TRUE(std::filesystem::exists(m_dir.path() / "saved" / "db.bak"));
    SqliteFile(Db()).Exec("DELETE FROM jobs");
    ASSERT_TRUE(RestoreDatabase(copy, Db(), &error)) << error;
    EXPECT_EQ(SqliteFile(Db()).Rows(ALL_ROWS), OLD_ROWS);
}

// The files kept aside go back over the database the patch changed, which
// the restore itself holds open under its lock while it writes them (on
// Windows such a file cannot be replaced by another one).
TEST_F(BackupRestoreTest, KeptFilesGoBackOverThePatchedDatabase)
{
    const std::filesystem::path db = Db();
    const std::filesystem::path kept = m_dir.path() / "kept";
    std::string error;
    ASSERT_TRUE(KeepDatabaseFiles(db, kept, &error)) << error;
    const std::string before = ReadFileBytes(Db());
    SqliteFile(Db()).Exec("DELETE FROM jobs; CREATE TABLE added(x);");
    ASSERT_NE(ReadFileBytes(Db()), before);

    ASSERT_TRUE(RestoreDatabaseFiles(kept, db, &error)) << error;
    EXPECT_EQ(ReadFileBytes(Db()), before) << "byte for byte";
    EXPECT_EQ(SqliteFile(Db()).Rows(ALL_ROWS), OLD_ROWS);
}

}  // namespace

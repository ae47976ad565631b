// Updates that fail halfway: each leaves exactly the old installation, tells
// the user, and starts the old product again.
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <iostream>

#include <gtest/gtest.h>

#include "updater/workflow/journal/journal_scene.h"
#include "support/script_tools.h"

namespace {

// Flips a byte in the middle of the compressed data of the archive entry whose
// name ends in `suffix`, so that its CRC check fails.
void CorruptEntry(const std::filesystem::path& archive, const std::string& suffix)
{
    const std::string script =
        "import struct, sys, zipfile\n"
        "path, suffix = sys.argv[1], sys.argv[2]\n"
        "info = [i for i in zipfile.ZipFile(path).infolist() if i.filename.endswith(suffix)][0]\n"
        "data = bytearray(open(path, 'rb').read())\n"
        "off = info.header_offset\n"
        "n, e = struct.unpack('<HH', data[off + 26:off + 30])\n"
        "data[off + 30 + n + e + info.compress_size // 2] ^= 0xFF\n"
        "open(path, 'wb').write(data)\n";
    ASSERT_EQ(RunAndWait({"/usr/bin/python3", "-c", script, archive.string(), suffix}), 0)
        << "corrupting " << archive << " failed";
}

// Runs tests/hostile/make_archive.py on the published archive.
void EditArchive(const std::filesystem::path& archive, const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv = {"/usr/bin/python3", std::string(MORVEX_SOURCE_DIR) + "/tests/hostile/make_archive.py",
                                     arguments.front(), archive.string()};
    argv.insert(argv.end(), arguments.begin() + 1, arguments.end());
    ASSERT_EQ(RunAndWait(argv), 0) << "make_archive.py " << arguments.front() << " failed";
}

JournalSceneOptions Spoiled(std::vector<std::string> arguments)
{
    JournalSceneOptions options;
    options.spoil = [arguments](const std::filesystem::path& folder) { EditArchive(folder / "update.zip", arguments); };
    return options;
}

struct FailureRow {
    const char* name;
    JournalSceneOptions options;
    std::function<void(JournalScene&)> prepare;  // on the installation, before the run
    long long fileSizeLimit;
    std::string expectedBox;
    // A file of the old installation the failed update deletes.
    const char* deleted = nullptr;
    std::function<void(JournalScene&)> check;  // more to check afterwards
};

std::vector<FailureRow> FailureRows()
{
    const std::string unpackFailed = "box 升级失败|升级包下载或解压失败，请稍后再试！";
    std::vector<FailureRow> rows;
    rows.push_back({"ReadOnlyTarget", {},
                    [](JournalScene& scene) {
                        std::filesystem::permissions(scene.Install() / "app" / "f07",
                                                     std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::group_read);
                    },
                    0, unpackFailed, nullptr, nullptr});
    JournalSceneOptions corrupt;
    corrupt.spoil = [](const std::filesystem::path& folder) { CorruptEntry(folder / "update.zip", "f06"); };
    rows.push_back({"CorruptEntryInTheMiddle", corrupt, nullptr, 0, unpackFailed, nullptr, nullptr});
    JournalSceneOptions badScript;
    badScript.script = "INSERT INTO people VALUES('half');\nINSERT INTO missing_table VALUES(1);";
    rows.push_back({"FailingPatch", badScript, nullptr, 0,
                    "box 升级失败|数据库更新失败：no such table: missing_table", nullptr, nullptr});
    // A 4 MiB file of zeros packs into a few kilobytes: the archive arrives,
    // and unpacking hits the limit partway through that file.
    JournalSceneOptions big;
    big.zeroFileSize = 4u << 20;
    rows.push_back({"NoSpaceLeftForAFile", big, nullptr, 1 << 20, unpackFailed, nullptr, nullptr});

    // The updater's own names: refused, or the archive writes into the live
    // journal (here: a phase that makes the next start "finish" the update).
    rows.push_back({"JournalFolderInTheArchive", Spoiled({"add", "./MorvexUpdate.journal/phase", "phase=committed"}),
                    nullptr, 0, unpackFailed, nullptr, nullptr});

    // Damaged directories a reader takes for a smaller, or an empty, archive.
    for (const char* damage : {"no-count", "empty-end", "short-directory", "empty"}) {
        rows.push_back({damage, Spoiled({"damage", damage}), nullptr, 0, unpackFailed, nullptr, nullptr});
    }

    // A patch that changes the journal mode before it fails: the database
    // comes back as the very file it was, without a write-ahead log.
    JournalSceneOptions wal;
    wal.script = "PRAGMA journal_mode=WAL;\nINSERT INTO people VALUES('half');\nINSERT INTO missing_table VALUES(1);";
    rows.push_back({"FailingPatchSwitchedToWal", wal, nullptr, 0,
                    "box 升级失败|数据库更新失败：no such table: missing_table", nullptr, [](JournalScene& scene) {
                        EXPECT_EQ(testsupport::ReadFileBytes(scene.Install() / "jo_db_local.db"),
                                  testsupport::ReadFileBytes(scene.Root() / "pristine" / "jo_db_local.db"));
                        EXPECT_FALSE(std::filesystem::exists(scene.Install() / "jo_db_local.db-wal"));
                    }});

    // A script the installation already held goes with the failed patch.
    rows.push_back({"FailingPatchOverAnOldScript", badScript,
                    [](JournalScene& scene) {
                        testsupport::WriteFileBytes(scene.Install() / "ini" / "update.sql", "SELECT 'old script';");
                    },
                    0, "box 升级失败|数据库更新失败：no such table: missing_table", "F ini/update.sql", nullptr});
    return rows;
}

class JournalFailure : public testing::TestWithParam<FailureRow> {};

}  // namespace

TEST_P(JournalFailure, LeavesExactlyTheOldInstallationAndRestartsTheProduct)
{
    const FailureRow& row = GetParam();
    JournalScene scene(row.options);
    if (row.prepare) {
        row.prepare(scene);
    }
    InstallationState before = scene.Snapshot();
    if (row.deleted != nullptr) {
        ASSERT_EQ(before.entries.erase(row.deleted), 1u);
    }
    const ChildRun run = scene.RunUpdater(0, row.fileSizeLimit);
    ASSERT_TRUE(run.finished) << "the updater must end normally";

    EXPECT_NE(std::find(run.windowCalls.begin(), run.windowCalls.end(), row.expectedBox), run.windowCalls.end())
        << "expected the message \"" << row.expectedBox << "\"";
    const InstallationState after = scene.Snapshot();
    const bool exactlyOld = after == before;
    EXPECT_TRUE(exactlyOld) << "the installation must be exactly the old one";
    std::cout << "[ journal  ] failure " << row.name << ": " << (exactlyOld ? "old installation" : "MIXED") << "\n";
    EXPECT_EQ(scene.InstalledVersion(), "1.0.0.0") << "the update must be offered again";
    EXPECT_EQ(scene.ProcessControlCalls(), (std::vector<std::string>{"-k Zentora.exe", "-s Zentora.exe -nonupdate"}))
        << "the old product must be started again";
    if (row.check) {
        row.check(scene);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWay, JournalFailure, testing::ValuesIn(FailureRows()),
                         [](const testing::TestParamInfo<FailureRow>& row) {
                             std::string name = row.param.name;
                             std::erase(name, '-');
                             return name;
                         });

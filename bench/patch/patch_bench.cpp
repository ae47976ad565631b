// Applies one 100 000-statement script (one transaction) to copies of the same
// database, alternately with PatchLocalDatabase and with the sqlite3 shell, and
// prints the median times and their ratio (goal: at most 1.05).
//
//   bench_patch [runs=5] [statements=100000]
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "updater/install/update_db.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "bench_patch: %s\n", what.c_str());
        std::exit(1);
    }
}

void MakeBaseDatabase(const std::string& path)
{
    sqlite3* db = nullptr;
    Check(sqlite3_open(path.c_str(), &db) == SQLITE_OK, "cannot create " + path);
    std::string sql = "CREATE TABLE jobs(id INTEGER PRIMARY KEY, title TEXT, city TEXT, salary INTEGER);"
                      "BEGIN;";
    for (int i = 1; i <= 10000; ++i) {
        sql += "INSERT INTO jobs VALUES(" + std::to_string(i) + ",'job " + std::to_string(i) + "','city',1000);";
    }
    sql += "COMMIT;";
    Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK, "cannot fill " + path);
    sqlite3_close(db);
}

// Code page 936 text with Windows line ends, as update scripts are delivered.
void MakeScript(const std::string& path, int statements)
{
    std::string script = "BEGIN TRANSACTION;\r\n";
    for (int i = 0; i < statements; ++i) {
        const std::string n = std::to_string(i);
        if (i % 4 == 3) {
            script += "UPDATE jobs SET salary = salary + 1 WHERE id = " + std::to_string(i % 10000 + 1) + ";\r\n";
        } else {
            // "招聘" (recruitment) in GBK
            script += "INSERT INTO jobs(title, city, salary) VALUES('\xd5\xd0\xc6\xb8 " + n +
                      "', 'city " + n + "', " + n + ");\r\n";
        }
    }
    script += "COMMIT;\r\n";
    std::ofstream(path, std::ios::binary) << script;
}

double RunShell(const std::string& db, const std::string& script)
{
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(script.c_str(), O_RDONLY);
        const int null = open("/dev/null", O_WRONLY);
        if (in < 0 || null < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0) {
            _exit(126);
        }
        execlp("sqlite3", "sqlite3", "-bail", db.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the sqlite3 shell failed on the script");
    return seconds;
}

double RunPatch(const std::string& db, const std::string& script)
{
    const auto start = Clock::now();
    const bool ok = PatchLocalDatabase(db, script);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Check(ok, "PatchLocalDatabase failed: " + GetLastDBError());
    return seconds;
}

long long RowCount(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    long long count = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*), sum(salary) FROM jobs", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        count = sqlite3_column_int64(statement, 0) * 1000003 + sqlite3_column_int64(statement, 1);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return count;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int statements = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100000;

    std::string pattern = (fs::temp_directory_path() / "bench-patch-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "cannot create a temporary folder");
    const fs::path dir = pattern;
    const std::string base = (dir / "base.db").string();
    const std::string script = (dir / "update.sql").string();
    MakeBaseDatabase(base);
    MakeScript(script, statements);
    std::printf("script: %d statements in one transaction, %ju bytes; database: 10000 rows\n", statements,
                static_cast<std::uintmax_t>(fs::file_size(script)));

    std::vector<double> patchTimes;
    std::vector<double> shellTimes;
    long long patchResult = 0;
    long long shellResult = 0;
    for (int run = 0; run < runs; ++run) {
        const std::string viaPatch = (dir / "patch.db").string();
        const std::string viaShell = (dir / "shell.db").string();
        fs::copy_file(base, viaPatch, fs::copy_options::overwrite_existing);
        fs::copy_file(base, viaShell, fs::copy_options::overwrite_existing);
        // Alternate which goes first so that neither always meets a warm cache.
        if (run % 2 == 0) {
            patchTimes.push_back(RunPatch(viaPatch, script));
            shellTimes.push_back(RunShell(viaShell, script));
        } else {
            shellTimes.push_back(RunShell(viaShell, script));
            patchTimes.push_back(RunPatch(viaPatch, script));
        }
        patchResult = RowCount(viaPatch);
        shellResult = RowCount(viaShell);
    }
    fs::remove_all(dir);
    Check(patchResult == shellResult, "the two databases differ after the script");

    const double patch = Median(patchTimes);
    const double shell = Median(shellTimes);
    std::printf("PatchLocalDatabase: median %.1f ms over %d runs\n", patch * 1000, runs);
    std::printf("sqlite3 shell:      median %.1f ms over %d runs\n", shell * 1000, runs);
    std::printf("ratio (patch / shell): %.3f (goal <= 1.05)\n", patch / shell);
    return 0;
}

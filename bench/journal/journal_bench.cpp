// What the update journal costs: unpacks the installation-support benchmark
// archive (make_archive.py) over an installation that already holds every file
// (each entry replaces one, the journal's worst case) and over an empty one
// (each entry creates one), with and without the journal, and prints the
// times and the disk the journal holds at its largest.
//
//   bench_journal [--files N] [--megabytes M] [--rounds R] [--workdir DIR]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/archive_bench_options.h"
#include "platform/codepage.h"
#include "updater/workflow/update_session.h"

namespace {

struct Outcome {
    double seconds = 0;
    std::uintmax_t journalBytes = 0;  // allocated by the journal folder before it is removed
    bool ok = true;
};

std::uintmax_t AllocatedBytes(const std::filesystem::path& root)
{
    std::uintmax_t bytes = 0;
    std::error_code error;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root, error)) {
        struct stat st {};
        if (::lstat(item.path().c_str(), &st) == 0) {
            bytes += static_cast<std::uintmax_t>(st.st_blocks) * 512u;
        }
    }
    return bytes;
}

Outcome Unpack(const std::filesystem::path& archivePath, const std::filesystem::path& installDir, bool journaled)
{
    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    CUpdateJournal journal(InstallationJournalActions());
    if (journaled && !journal.Begin(installDir)) {
        outcome.ok = false;
        return outcome;
    }
    // The update sequence's own unpacking, journaled as it journals.
    outcome.ok = UnpackArchive(archivePath, installDir, journaled ? &journal : nullptr);
    if (journaled) {
        outcome.journalBytes = AllocatedBytes(installDir / platform::Utf16ToUtf8(UPDATE_JOURNAL_FOLDER));
        journal.SetPhase(JournalPhase::Committed);
        journal.Finish();
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    bench::ArchiveBenchOptions options;
    options.rounds = 3;
    if (!bench::ParseArchiveBenchOptions(argc, argv, options)) {
        return 2;
    }
    const int files = options.files;
    const int megabytes = options.megabytes;
    const int rounds = options.rounds;
    const std::optional<std::filesystem::path> scratch = bench::MakeScratchFolder(options.workdir, "journal");
    if (!scratch) {
        return 1;
    }
    const std::filesystem::path root = *scratch;
    const std::filesystem::path archive = root / "bench.zip";
    const std::string build = std::string(MORVEX_PYTHON) + " '" + MORVEX_SOURCE_DIR +
                              "/bench/extract/make_archive.py' '" + archive.string() + "' --files " +
                              std::to_string(files) + " --megabytes " + std::to_string(megabytes);
    std::printf("building %d files, %d MB ...\n", files, megabytes);
    std::fflush(stdout);
    if (std::system(build.c_str()) != 0) {
        std::fprintf(stderr, "building the archive failed\n");
        std::filesystem::remove_all(root);
        return 1;
    }

    // Each row: an installation that holds every file already, or none.
    bool allOk = true;
    for (const bool replacing : {true, false}) {
        std::vector<double> plain;
        std::vector<double> journaled;
        std::uintmax_t journalBytes = 0;
        std::uintmax_t installBytes = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const bool withJournal : round % 2 == 0 ? std::vector<bool>{false, true}
                                                         : std::vector<bool>{true, false}) {
                const auto dir = root / "install";
                std::filesystem::remove_all(dir);
                std::filesystem::create_directories(dir);
                if (replacing) {
                    allOk = Unpack(archive, dir, false).ok && allOk;
                }
                ::sync();
                const Outcome outcome = Unpack(archive, dir, withJournal);
                allOk = allOk && outcome.ok;
                (withJournal ? journaled : plain).push_back(outcome.seconds);
                journalBytes = std::max(journalBytes, outcome.journalBytes);
                installBytes = AllocatedBytes(dir);
            }
        }
        const double without = Median(plain);
        const double with = Median(journaled);
        std::printf("%s: without journal %.3f s, with journal %.3f s (%+.0f%%), median of %d; "
                    "journal at its largest %.1f MB next to an installation of %.1f MB\n",
                    replacing ? "every entry replaces a file" : "every entry creates a file", without, with,
                    without > 0 ? (with / without - 1) * 100 : 0.0, rounds,
                    static_cast<double>(journalBytes) / 1048576.0, static_cast<double>(installBytes) / 1048576.0);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(root);
    if (!allOk) {
        std::fprintf(stderr, "an unpacking failed\n");
        return 1;
    }
    return 0;
}

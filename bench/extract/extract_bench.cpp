// Extraction benchmark: the archive component against Info-ZIP unzip.
//
// Builds one deflated archive of many files of mixed sizes (make_archive.py),
// then extracts it alternately with the component (the install step's loop, in
// a child process) and with `unzip -o -q`, each into a fresh directory, and
// prints the median times, their ratio and the component's peak memory above
// that of a run over an empty archive.
//
//   bench_extract [--files N] [--megabytes M] [--rounds R] [--workdir DIR]
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/archive_bench_options.h"
#include "platform/codepage.h"
#include "updater/install/archive.h"

namespace {

struct RunResult {
    double seconds = 0;
    long peakKilobytes = 0;
    bool ok = false;
};

// The install step's sequence over one archive; exit status 0 when every
// entry was extracted.
int ExtractChild(const char* archivePath, const char* directory)
{
    ArchiveHandle* handle = ArchiveOpen(platform::Utf8ToUtf16(archivePath), nullptr);
    if (handle == nullptr) {
        return 2;
    }
    ArchiveSetBaseDir(handle, platform::Utf8ToUtf16(directory));
    ArchiveEntry entry;
    ArchiveGetEntry(handle, -1, &entry);
    const std::int32_t count = entry.number;
    int failures = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        ArchiveGetEntry(handle, i, &entry);
        failures += ArchiveExtractToFile(handle, i, CString(entry.path)) != ARC_OK;
    }
    ArchiveClose(handle);
    return failures == 0 ? 0 : 1;
}

RunResult RunTimed(const std::vector<std::string>& argv)
{
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakKilobytes = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long MedianLong(std::vector<long> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::uintmax_t TreeBytes(const std::filesystem::path& root)
{
    std::uintmax_t total = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (item.is_regular_file()) {
            total += item.file_size();
        }
    }
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
        return ExtractChild(argv[2], argv[3]);
    }
    bench::ArchiveBenchOptions options;
    options.rounds = 5;
    if (!bench::ParseArchiveBenchOptions(argc, argv, options)) {
        return 2;
    }
    const int files = options.files;
    const int megabytes = options.megabytes;
    const int rounds = options.rounds;
    const std::optional<std::filesystem::path> scratch = bench::MakeScratchFolder(options.workdir, "extract");
    if (!scratch) {
        return 1;
    }
    const std::filesystem::path root = *scratch;
    const std::filesystem::path archive = root / "bench.zip";
    const std::filesystem::path empty = root / "empty.zip";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string builder = std::string(MORVEX_SOURCE_DIR) + "/bench/extract/make_archive.py";

    std::printf("building %d files, %d MB ...\n", files, megabytes);
    std::fflush(stdout);
    const std::string build = std::string(MORVEX_PYTHON) + " '" + builder + "' '" + archive.string() +
                              "' --files " + std::to_string(files) + " --megabytes " + std::to_string(megabytes) +
                              " && " + MORVEX_PYTHON + " -c 'import zipfile,sys; zipfile.ZipFile(sys.argv[1],\"w\").close()' '" +
                              empty.string() + "'";
    if (std::system(build.c_str()) != 0) {
        std::fprintf(stderr, "building the archive failed\n");
        std::filesystem::remove_all(root);
        return 1;
    }
    std::printf("archive: %.1f MB packed\n", static_cast<double>(std::filesystem::file_size(archive)) / 1048576.0);

    std::vector<double> componentTimes;
    std::vector<double> unzipTimes;
    std::vector<long> componentPeaks;
    std::vector<long> unzipPeaks;
    std::vector<long> emptyPeaks;
    bool allOk = true;
    for (int round = 0; round < rounds; ++round) {
        const auto componentDir = root / "out-component";
        const auto unzipDir = root / "out-unzip";
        const auto emptyDir = root / "out-empty";
        const auto runComponent = [&] {
            const RunResult r = RunTimed({self, "--extract", archive.string(), componentDir.string() + "/"});
            allOk = allOk && r.ok;
            componentTimes.push_back(r.seconds);
            componentPeaks.push_back(r.peakKilobytes);
        };
        const auto runUnzip = [&] {
            const RunResult r = RunTimed({"unzip", "-o", "-q", archive.string(), "-d", unzipDir.string()});
            allOk = allOk && r.ok;
            unzipTimes.push_back(r.seconds);
            unzipPeaks.push_back(r.peakKilobytes);
        };
        // Alternate which goes first, so neither always meets a warmer cache.
        if (round % 2 == 0) {
            runComponent();
            runUnzip();
        } else {
            runUnzip();
            runComponent();
        }
        const RunResult e = RunTimed({self, "--extract", empty.string(), emptyDir.string() + "/"});
        emptyPeaks.push_back(e.peakKilobytes);
        if (round == 0 && TreeBytes(componentDir) != TreeBytes(unzipDir)) {
            std::fprintf(stderr, "the component and unzip wrote different amounts of data\n");
            allOk = false;
        }
        std::printf("round %d: component %.3f s, unzip %.3f s\n", round + 1, componentTimes.back(),
                    unzipTimes.back());
        std::fflush(stdout);
        std::filesystem::remove_all(componentDir);
        std::filesystem::remove_all(unzipDir);
        std::filesystem::remove_all(emptyDir);
    }
    std::filesystem::remove_all(root);

    const double component = Median(componentTimes);
    const double unzip = Median(unzipTimes);
    const long peak = MedianLong(componentPeaks);
    const long baseline = MedianLong(emptyPeaks);
    std::printf("median component: %.3f s\n", component);
    std::printf("median unzip:     %.3f s\n", unzip);
    std::printf("ratio component/unzip: %.3f (goal <= 1.0)\n", component / unzip);
    std::printf("peak memory: component %ld KB, empty run %ld KB, above empty %ld KB (goal < 16384 KB); unzip %ld KB\n",
                peak, baseline, peak - baseline, MedianLong(unzipPeaks));
    if (!allOk) {
        std::printf("WARNING: some runs failed\n");
        return 1;
    }
    return 0;
}

// The options and the scratch folder shared by the benchmarks that unpack the
// installation-support benchmark archive (bench/extract/make_archive.py).
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace bench {

struct ArchiveBenchOptions {
    int files = 2000;
    int megabytes = 500;
    int rounds = 5;
    std::string workdir = std::filesystem::temp_directory_path().string();
};

// Reads --files N, --megabytes M, --rounds R and --workdir DIR from argv[1..]
// over the defaults in `options`; false (said on stderr) for anything else.
inline bool ParseArchiveBenchOptions(int argc, char** argv, ArchiveBenchOptions& options)
{
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "option %s needs a value\n", option.c_str());
            return false;
        }
        if (option == "--files") {
            options.files = std::atoi(argv[i + 1]);
        } else if (option == "--megabytes") {
            options.megabytes = std::atoi(argv[i + 1]);
        } else if (option == "--rounds") {
            options.rounds = std::atoi(argv[i + 1]);
        } else if (option == "--workdir") {
            options.workdir = argv[i + 1];
        } else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return false;
        }
    }
    return true;
}

// A new folder "<workdir>/bench-<name>-XXXXXX"; nothing when it cannot be made.
inline std::optional<std::filesystem::path> MakeScratchFolder(const std::string& workdir, const std::string& name)
{
    std::string pattern = workdir + "/bench-" + name + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return std::nullopt;
    }
    return std::filesystem::path(pattern);
}

}  // namespace bench

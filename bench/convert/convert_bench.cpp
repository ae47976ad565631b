// Median of 5 conversions of each fixture:
//  - through ConvertToHtml, which loads libDocvert_u.so beside this program;
//    Word documents go to its resident converter (started by the first one,
//    which is printed on its own; the others find it loaded);
//  - for Word documents, the library's one-shot path (an office started for
//    the document alone), which is what runs when there is no converter;
//  - `soffice --headless --convert-to html` run directly on the same file,
//    once with a fresh private profile per run (as the library does) and once
//    with one profile reused across runs (an office that has run before).
// Usage: bench_convert [runs]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/types.h"
#include "tools/docvert/child_process.h"
#include "tools/docvert/doc_converter.h"
#include "tools/docvert/service_link.h"
#include "tools/docvert/temp_folder.h"
#include "viewer/convert_bridge.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Sample {
    double millis = 0;
    bool ok = false;
    std::uintmax_t bytes = 0;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

Sample ThroughLibrary(const fs::path& source, int kind, const fs::path& work)
{
    const fs::path target = work / "out.html";
    const CString from = platform::Utf8ToUtf16(source.string());
    const CString to = platform::Utf8ToUtf16(target.string());
    const auto start = Clock::now();
    Sample sample;
    sample.ok = ConvertToHtml(from.c_str(), to.c_str(), kind);
    sample.millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::error_code ec;
    sample.bytes = sample.ok ? fs::file_size(target, ec) : 0;
    return sample;
}

Sample OfficeDirectly(const fs::path& source, const fs::path& profile, const fs::path& work)
{
    const fs::path out = work / "office-out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directory(out, ec);
    docvert::ChildOptions options;
    options.timeLimit = std::chrono::seconds(120);
    const auto start = Clock::now();
    const docvert::ChildResult result =
        docvert::RunChild({"soffice", "--headless", "-env:UserInstallation=file://" + profile.string(),
                           "--convert-to", "html", "--outdir", out.string(), source.string()},
                          options);
    Sample sample;
    sample.millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const fs::path produced = out / (source.stem().string() + ".html");
    sample.ok = result.Succeeded() && fs::exists(produced);
    sample.bytes = sample.ok ? fs::file_size(produced, ec) : 0;
    return sample;
}

Sample OneShot(const fs::path& source)
{
    const auto start = Clock::now();
    const std::optional<docvert::DocConversion> result = docvert::ConvertDocToHtml(source);
    Sample sample;
    sample.millis = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    sample.ok = result.has_value();
    sample.bytes = sample.ok ? result->html.size() : 0;
    return sample;
}

// The resident size of the converter that answers on the user's socket, in KiB.
std::pair<pid_t, long> ConverterResidentSize()
{
    const int fd = docvert::ConnectToService(docvert::ServiceSocketPath());
    if (fd < 0) {
        return {0, 0};
    }
    const std::optional<docvert::PeerIds> peer = docvert::PeerOf(fd);
    close(fd);
    if (!peer) {
        return {0, 0};
    }
    std::ifstream status("/proc/" + std::to_string(peer->pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return {peer->pid, std::atol(line.c_str() + 6)};
        }
    }
    return {peer->pid, 0};
}

void Report(const char* what, const std::vector<Sample>& samples)
{
    std::vector<double> times;
    int failures = 0;
    for (const Sample& s : samples) {
        times.push_back(s.millis);
        failures += s.ok ? 0 : 1;
    }
    std::printf("  %-34s median %8.1f ms  (min %8.1f, max %8.1f)  output %7ju bytes  failures %d\n", what,
                Median(times), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), samples.back().bytes, failures);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path fixtures = MORVEX_SOURCE_DIR "/tests/tools/docvert/fixtures";
    struct File {
        const char* name;
        int kind;
    };
    const File files[] = {{"resume.doc", CONVERT_DOC},
                          {"word_cp936.mht", CONVERT_MHT},
                          {"cid_start.mht", CONVERT_MHT},
                          {"browser.mht", CONVERT_MHT}};
    // A converter of the benchmark's own, ended at the end.
    docvert::TempFolder runtime;
    if (!runtime.valid()) {
        return 1;
    }
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    std::printf("conversion time, %d runs each\n", runs);
    for (const File& file : files) {
        const fs::path source = fixtures / file.name;
        docvert::TempFolder work;
        docvert::TempFolder warmProfile;
        if (!work.valid() || !warmProfile.valid()) {
            std::fprintf(stderr, "cannot create temporary folders\n");
            return 1;
        }
        std::vector<Sample> library;
        std::vector<Sample> fresh;
        std::vector<Sample> warm;
        OfficeDirectly(source, warmProfile.path(), work.path());  // creates the reused profile
        std::vector<Sample> first;
        std::vector<Sample> oneShot;
        if (file.kind == CONVERT_DOC) {
            first.push_back(ThroughLibrary(source, file.kind, work.path()));
        }
        for (int i = 0; i < runs; ++i) {
            library.push_back(ThroughLibrary(source, file.kind, work.path()));
            docvert::TempFolder freshProfile;
            fresh.push_back(OfficeDirectly(source, freshProfile.path(), work.path()));
            warm.push_back(OfficeDirectly(source, warmProfile.path(), work.path()));
            if (file.kind == CONVERT_DOC) {
                oneShot.push_back(OneShot(source));
            }
        }
        std::printf("%s (%ju bytes)\n", file.name, fs::file_size(source));
        if (!first.empty()) {
            Report("ConvertToHtml, starting converter", first);
        }
        Report(first.empty() ? "ConvertToHtml (libDocvert_u.so)" : "ConvertToHtml, converter loaded", library);
        if (!oneShot.empty()) {
            Report("library's one-shot path", oneShot);
        }
        Report("soffice, fresh profile per run", fresh);
        Report("soffice, profile reused", warm);
    }
    const auto [pid, residentKiB] = ConverterResidentSize();
    if (pid > 0) {
        std::printf("resident converter: pid %d, resident size %.1f MiB\n", static_cast<int>(pid),
                    static_cast<double>(residentKiB) / 1024.0);
        kill(pid, SIGTERM);  // it removes its profile folder as it ends
    } else {
        std::printf("resident converter: none running\n");
    }
    return 0;
}

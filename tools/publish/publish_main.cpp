// morvex-publish: prepares an update for the FTP server, or the installed
// manifest of a (demo) installation. Run without arguments for the usage.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "manifest_writer.h"
#include "platform/codepage.h"
#include "update_archive.h"

namespace {

const char* const USAGE =
    "usage:\n"
    "  morvex-publish server --code CODE --version VER --host HOST[:PORT] --user USER\n"
    "                 --password PASS --update-dir DIR --out DIR [--url URL] [--separator /|\\]\n"
    "      Packs DIR into update.zip and writes the server manifest version.ini under\n"
    "      OUT/update/CODE/, so that OUT can serve as the FTP root as it stands.\n"
    "  morvex-publish installed --code CODE --version VER --host HOST[:PORT] --user USER\n"
    "                 --password PASS --out DIR [--url URL]\n"
    "      Writes the installed manifest OUT/version.ini of an installation.\n"
    "CODE is qb, zt_e or zt_p. URL defaults to ftp://HOST/update/CODE/update.zip.\n"
    "Archive entry names use SEPARATOR between their parts (default /).\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "morvex-publish: %s\n", message.c_str());
    return 1;
}

// "--name value" pairs; false when an option has no value or is unknown.
bool ParseOptions(int argc, char** argv, const std::map<std::string, bool>& known,
                  std::map<std::string, std::string>& options, std::string& error)
{
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        if (known.find(name) == known.end()) {
            error = "unknown option " + name;
            return false;
        }
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value";
            return false;
        }
        options[name] = argv[i + 1];
    }
    for (const auto& [name, required] : known) {
        if (required && options.find(name) == options.end()) {
            error = "option " + name + " is missing";
            return false;
        }
    }
    return true;
}

ManifestValues ValuesFrom(const std::map<std::string, std::string>& options)
{
    const auto text = [&](const char* name) {
        const auto it = options.find(name);
        return it == options.end() ? CString() : platform::Utf8ToUtf16(it->second);
    };
    ManifestValues values;
    values.version = text("--version");
    values.product = text("--code");
    values.server = text("--host");
    values.user = text("--user");
    values.password = text("--password");
    values.url = options.count("--url") != 0
                     ? text("--url")
                     : u"ftp://" + values.server + u"/update/" + values.product + u"/update.zip";
    return values;
}

int PublishServer(const std::map<std::string, std::string>& options)
{
    ManifestValues values = ValuesFrom(options);
    std::string error;
    if (!CheckManifestValues(values, error)) {
        return Fail(error);
    }
    char separator = '/';
    if (const auto it = options.find("--separator"); it != options.end()) {
        if (it->second != "/" && it->second != "\\") {
            return Fail("the separator is / or \\");
        }
        separator = it->second[0];
    }
    const std::string code = options.at("--code");
    const std::filesystem::path remoteDir = std::filesystem::path("update") / code;
    const std::filesystem::path folder = std::filesystem::path(options.at("--out")) / remoteDir;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return Fail("cannot create " + folder.string() + ": " + ec.message());
    }
    const std::filesystem::path archive = folder / "update.zip";
    const std::filesystem::path manifest = folder / "version.ini";
    if (!WriteUpdateArchive(options.at("--update-dir"), archive, separator, error)) {
        return Fail(error);
    }
    values.size = std::filesystem::file_size(archive, ec);
    if (ec || !WriteManifest(manifest, values, error)) {
        std::filesystem::remove(archive, ec);
        return Fail(error.empty() ? "cannot read back " + archive.string() : error);
    }
    std::printf("Upload to the FTP server (the output folder already has this layout):\n");
    std::printf("  /update/%s/version.ini  <-  %s\n", code.c_str(), manifest.string().c_str());
    std::printf("  /update/%s/update.zip   <-  %s\n", code.c_str(), archive.string().c_str());
    return 0;
}

int PublishInstalled(const std::map<std::string, std::string>& options)
{
    const std::filesystem::path folder = options.at("--out");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string error;
    if (ec) {
        return Fail("cannot create " + folder.string() + ": " + ec.message());
    }
    if (!WriteManifest(folder / "version.ini", ValuesFrom(options), error)) {
        return Fail(error);
    }
    std::printf("Installed manifest written: %s\n", (folder / "version.ini").string().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    std::map<std::string, bool> known{{"--code", true},    {"--version", true}, {"--host", true},
                                      {"--user", true},    {"--password", true}, {"--out", true},
                                      {"--url", false}};
    if (command == "server") {
        known["--update-dir"] = true;
        known["--separator"] = false;
    } else if (command != "installed") {
        std::fputs(USAGE, stderr);
        return 2;
    }
    std::map<std::string, std::string> options;
    std::string error;
    if (!ParseOptions(argc, argv, known, options, error)) {
        std::fprintf(stderr, "morvex-publish: %s\n%s", error.c_str(), USAGE);
        return 2;
    }
    return command == "server" ? PublishServer(options) : PublishInstalled(options);
}

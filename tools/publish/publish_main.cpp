// morvex-publish: prepares an update for the FTP server, or the installed
// manifest of a (demo) installation. Run without arguments for the usage.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "manifest_writer.h"
#include "platform/codepage.h"
#include "update_archive.h"
#include "update_signing.h"

namespace {

const char* const USAGE =
    "usage:\n"
    "  morvex-publish server --code CODE --version VER --host HOST[:PORT] --user USER\n"
    "                 --password PASS --update-dir DIR --out DIR [--url URL] [--separator /|\\]\n"
    "                 [--sign SECRETKEY] [--tls]\n"
    "      Packs DIR into update.zip and writes the server manifest version.ini under\n"
    "      OUT/update/CODE/, so that OUT can serve as the FTP root as it stands.\n"
    "      With --sign, both files get their minisign signature beside them\n"
    "      (version.ini.minisig, update.zip.minisig).\n"
    "  morvex-publish keygen --out DIR [--no-password]\n"
    "      Writes a key pair in minisign's formats: DIR/MorvexUpdate.pub (install it\n"
    "      beside MorvexUpdate) and DIR/MorvexUpdate.key (keep it secret).\n"
    "  morvex-publish installed --code CODE --version VER --host HOST[:PORT] --user USER\n"
    "                 --password PASS --out DIR [--url URL] [--tls]\n"
    "      Writes the installed manifest OUT/version.ini of an installation.\n"
    "CODE is qb, zt_e or zt_p. URL defaults to ftp://HOST/update/CODE/update.zip.\n"
    "Archive entry names use SEPARATOR between their parts (default /).\n"
    "--tls writes tls=1: the updater then talks FTP over TLS only, verifying the\n"
    "server's certificate (against MorvexUpdate.ca.pem beside it when present).\n"
    "A password for a secret key is read from the first line of standard input.\n";

int Fail(const std::string& message)
{
    std::fprintf(stderr, "morvex-publish: %s\n", message.c_str());
    return 1;
}

// "--name value" pairs; false when an option has no value or is unknown.
// Flags (`flags`) take no value and are stored as "1".
bool ParseOptions(int argc, char** argv, const std::map<std::string, bool>& known,
                  std::map<std::string, std::string>& options, std::string& error,
                  const std::set<std::string>& flags = {})
{
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        if (flags.count(name) != 0) {
            options[name] = "1";
            --i;
            continue;
        }
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
    values.tls = options.count("--tls") != 0;
    values.url = options.count("--url") != 0
                     ? text("--url")
                     : u"ftp://" + values.server + u"/update/" + values.product + u"/update.zip";
    return values;
}

// The first line of standard input, without its line end.
std::string ReadPassword(const char* prompt)
{
    std::fprintf(stderr, "%s", prompt);
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

int MakeKeys(const std::map<std::string, std::string>& options)
{
    const bool encrypt = options.count("--no-password") == 0;
    const std::string password = encrypt ? ReadPassword("Password for the new secret key: ") : std::string();
    if (encrypt && password.empty()) {
        return Fail("an empty password protects nothing; use --no-password to store the key unencrypted");
    }
    std::string error;
    const std::filesystem::path folder = options.at("--out");
    if (!WriteKeyPair(folder, encrypt, password, error)) {
        return Fail(error);
    }
    std::printf("Public key:  %s  (install it beside MorvexUpdate)\n", (folder / PUBLIC_KEY_NAME).string().c_str());
    std::printf("Secret key:  %s  (keep it off the update server)\n", (folder / SECRET_KEY_NAME).string().c_str());
    return 0;
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
    const bool sign = options.count("--sign") != 0;
    if (sign) {
        const std::filesystem::path secretKey = options.at("--sign");
        const std::string password =
            SecretKeyIsEncrypted(secretKey) ? ReadPassword("Password of the secret key: ") : std::string();
        const std::string version = options.at("--version");
        if (!SignUpdateFile(secretKey, password, manifest, code, version, error) ||
            !SignUpdateFile(secretKey, password, archive, code, version, error)) {
            std::filesystem::remove(archive, ec);
            std::filesystem::remove(manifest, ec);
            std::filesystem::remove(manifest.string() + ".minisig", ec);
            return Fail(error);
        }
    }
    std::printf("Upload to the FTP server (the output folder already has this layout):\n");
    std::printf("  /update/%s/version.ini  <-  %s\n", code.c_str(), manifest.string().c_str());
    std::printf("  /update/%s/update.zip   <-  %s\n", code.c_str(), archive.string().c_str());
    if (sign) {
        std::printf("  /update/%s/version.ini.minisig  <-  %s.minisig\n", code.c_str(), manifest.string().c_str());
        std::printf("  /update/%s/update.zip.minisig   <-  %s.minisig\n", code.c_str(), archive.string().c_str());
    }
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
    std::map<std::string, std::string> options;
    std::string error;
    if (command == "keygen") {
        if (!ParseOptions(argc, argv, {{"--out", true}}, options, error, {"--no-password"})) {
            std::fprintf(stderr, "morvex-publish: %s\n%s", error.c_str(), USAGE);
            return 2;
        }
        return MakeKeys(options);
    }
    std::map<std::string, bool> known{{"--code", true},    {"--version", true}, {"--host", true},
                                      {"--user", true},    {"--password", true}, {"--out", true},
                                      {"--url", false}};
    if (command == "server") {
        known["--update-dir"] = true;
        known["--separator"] = false;
        known["--sign"] = false;
    } else if (command != "installed") {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (!ParseOptions(argc, argv, known, options, error, {"--tls"})) {
        std::fprintf(stderr, "morvex-publish: %s\n%s", error.c_str(), USAGE);
        return 2;
    }
    return command == "server" ? PublishServer(options) : PublishInstalled(options);
}

#include "tools/docvert/doc_converter.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "tools/docvert/child_process.h"
#include "tools/docvert/html_markup.h"
#include "tools/docvert/mht_converter.h"
#include "tools/docvert/reference_rewriter.h"
#include "tools/docvert/service_link.h"
#include "tools/docvert/temp_folder.h"

namespace docvert {
namespace {

namespace fs = std::filesystem;

struct GFree {
    void operator()(char* p) const { g_free(p); }
};
using GText = std::unique_ptr<char, GFree>;

// The working copy's name when the document's own cannot be used.
constexpr std::string_view kFallbackName = "document.doc";
constexpr std::size_t kLongestName = 120;  // bytes; well inside any file system's limit

// The document shows its file name where it has a FILENAME field, so the
// working copy keeps the source's name, when that is a plain one: readable
// text, no control characters, not starting with "-" or "." (an option or a
// hidden file to a converter), of bounded length.
std::string WorkingCopyName(const fs::path& source)
{
    const std::string name = source.filename().string();
    const bool plain = !name.empty() && name.size() <= kLongestName && name.front() != '-' && name.front() != '.' &&
                       g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr) &&
                       std::none_of(name.begin(), name.end(), [](char c) {
                           return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
                       });
    return plain ? name : std::string(kFallbackName);
}

enum class SourceKind { Document, Archive, Refused };

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool ContainsNoCase(std::string_view text, std::string_view needle)
{
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (g_ascii_strncasecmp(text.data() + i, needle.data(), needle.size()) == 0) {
            return true;
        }
    }
    return false;
}

// What the office suite would make of the file. It reads anything, plain text
// and noise included, so only files that announce a document format go to it.
SourceKind Classify(std::string_view head)
{
    static constexpr std::array<std::string_view, 6> kDocumentMagic = {
        std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8),  // Word 97 and later (compound file)
        std::string_view("\xDB\xA5", 2),                           // Word 2
        std::string_view("{\\rtf"),                                 // "Word" files saved as RTF
        std::string_view("PK\x03\x04", 4),                         // newer Word files renamed .doc
        std::string_view("\xFF\xFE", 2),                           // UTF-16 web pages
        std::string_view("\xFE\xFF", 2),
    };
    for (std::string_view magic : kDocumentMagic) {
        if (StartsWith(head, magic)) {
            return SourceKind::Document;
        }
    }
    std::string_view text = head;
    if (StartsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && text[first] == '<') {
        return SourceKind::Document;  // web pages and Word XML saved as .doc
    }
    if (ContainsNoCase(text, "MIME-Version:") && ContainsNoCase(text, "Content-Type:")) {
        return SourceKind::Archive;
    }
    return SourceKind::Refused;
}

std::string FileUrl(const fs::path& path)
{
    GText escaped(g_uri_escape_string(path.c_str(), "/", FALSE));
    return std::string("file://") + escaped.get();
}

bool NonEmptyFile(const fs::path& path, std::string& bytes) { return ReadWholeFile(path, bytes) && !bytes.empty(); }

// The office's single-instance socket: it opens it in /tmp whatever TMPDIR
// says, and leaves it there when it is killed. Its name is made from the
// profile's URL: "OSL_PIPE_<uid>_SingleOfficeIPC_" and the MD5 digest of the
// URL's UTF-16 code units, each byte in hex without leading zeros.
fs::path OfficeSocketOf(const std::string& profileUrl)
{
    glong units = 0;
    gunichar2* utf16 = g_utf8_to_utf16(profileUrl.c_str(), -1, nullptr, &units, nullptr);
    if (utf16 == nullptr) {
        return {};
    }
    GChecksum* md5 = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(md5, reinterpret_cast<const guchar*>(utf16), static_cast<gssize>(static_cast<gsize>(units) * sizeof(gunichar2)));
    g_free(utf16);
    std::array<guint8, 16> digest{};
    gsize length = digest.size();
    g_checksum_get_digest(md5, digest.data(), &length);
    g_checksum_free(md5);
    std::string name = "OSL_PIPE_" + std::to_string(getuid()) + "_SingleOfficeIPC_";
    for (gsize i = 0; i < length; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%x", digest[i]);
        name += hex;
    }
    return fs::path("/tmp") / name;
}

std::optional<std::string> RunOffice(const fs::path& work, const fs::path& input, const DocConverterPrograms& programs)
{
    std::error_code ec;
    const fs::path profile = work / "office-profile";
    const fs::path out = work / "office-out";
    const fs::path scratch = work / "office-tmp";
    if (!fs::create_directory(profile, ec) || !fs::create_directory(out, ec) || !fs::create_directory(scratch, ec)) {
        return std::nullopt;
    }
    const std::string profileUrl = FileUrl(profile);
    const fs::path socket = OfficeSocketOf(profileUrl);
    ChildOptions options;
    options.timeLimit = programs.officeTimeLimit;
    // The office's own scratch files land in our folder and go with it.
    options.environment = {"TMPDIR=" + scratch.string()};
    options.removeIfHostEnds = {work};
    if (!socket.empty()) {
        options.removeIfHostEnds.push_back(socket);
    }
    const ChildResult result = RunChild(
        {programs.office, "--headless", "--invisible", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
         "-env:UserInstallation=" + profileUrl, "--convert-to", "html:HTML (StarWriter):EmbedImages", "--outdir",
         out.string(), input.string()},
        options);
    // The office has ended (or was killed with its group), and nobody else
    // uses a profile of ours.
    if (!socket.empty()) {
        unlink(socket.c_str());
    }
    std::string html;
    fs::path page = out / input.filename();
    page.replace_extension(".html");
    if (!result.Succeeded() || !NonEmptyFile(page, html)) {
        return std::nullopt;
    }
    return KeepParagraphAlignment(html);
}

std::optional<std::string> ImageMimeType(const fs::path& file)
{
    std::string extension = file.extension().string();
    for (char& c : extension) {
        c = static_cast<char>(g_ascii_tolower(c));
    }
    if (extension == ".png") {
        return "image/png";
    }
    if (extension == ".jpg" || extension == ".jpeg") {
        return "image/jpeg";
    }
    if (extension == ".gif") {
        return "image/gif";
    }
    if (extension == ".bmp") {
        return "image/bmp";
    }
    return std::nullopt;  // Windows metafiles and the like: no browser shows them
}

// wvHtml writes pictures beside the page, and for pictures it cannot extract
// a tag pointing at nothing ("StrangeNoGraphicData"). Pictures a browser can
// show are embedded; every other picture tag is removed.
std::string EmbedWvPictures(const std::string& html, const fs::path& folder)
{
    const std::string embedded = RewriteHtmlReferences(html, [&](const std::string& reference) -> std::optional<std::string> {
        if (reference.empty() || reference.find('/') != std::string::npos || reference.find(':') != std::string::npos ||
            reference == "." || reference == "..") {
            return std::nullopt;
        }
        const fs::path file = folder / reference;
        const std::optional<std::string> mimeType = ImageMimeType(file);
        std::string bytes;
        if (!mimeType || !NonEmptyFile(file, bytes)) {
            return std::nullopt;
        }
        GText base64(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
        return "data:" + *mimeType + ";base64," + base64.get();
    });
    return DropTags(embedded, [](const HtmlTag& tag) {
        if (tag.name != "img") {
            return false;
        }
        const HtmlAttribute* src = tag.Find("src");
        return src == nullptr || !StartsWith(src->Value(), "data:");
    });
}

std::optional<std::string> RunWvHtml(const fs::path& work, const fs::path& input, const DocConverterPrograms& programs)
{
    std::error_code ec;
    const fs::path out = work / "wv-out";
    if (!fs::create_directory(out, ec)) {
        return std::nullopt;
    }
    ChildOptions options;
    options.timeLimit = programs.wvHtmlTimeLimit;
    options.environment = {"TMPDIR=" + work.string()};
    options.removeIfHostEnds = {work};
    const ChildResult result =
        RunChild({programs.wvHtml, "--targetdir=" + out.string(), input.string(), "document.html"}, options);
    std::string html;
    if (!result.Succeeded() || !NonEmptyFile(out / "document.html", html)) {
        return std::nullopt;
    }
    return DeclareUtf8(EmbedWvPictures(html, out));
}

std::optional<std::string> RunAntiword(const fs::path& work, const fs::path& input, const DocConverterPrograms& programs)
{
    ChildOptions options;
    options.removeIfHostEnds = {work};
    options.timeLimit = programs.antiwordTimeLimit;
    options.stdoutPath = work / "antiword.txt";
    const ChildResult result =
        RunChild({programs.antiword, "-m", "UTF-8.txt", "-w", "0", input.string()}, options);
    std::string text;
    if (!result.Succeeded() || !NonEmptyFile(options.stdoutPath, text) ||
        !g_utf8_validate_len(text.data(), text.size(), nullptr)) {
        return std::nullopt;
    }
    GText escaped(g_markup_escape_text(text.data(), static_cast<gssize>(text.size())));
    return std::string("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title></title></head>\n<body><pre>") +
           escaped.get() + "</pre></body></html>\n";
}

}  // namespace

std::string KeepParagraphAlignment(std::string_view html)
{
    std::string rules;
    for (const char* alignment : {"left", "center", "right", "justify"}) {
        std::string selectors;
        for (const char* element : {"p", "h1", "h2", "h3", "h4", "h5", "h6"}) {
            selectors += std::string(selectors.empty() ? "" : ", ") + element + "[align=\"" + alignment + "\"]";
        }
        rules += selectors + " { text-align: " + alignment + " !important }\n";
    }
    return AppendStyleRules(html, rules);
}

std::optional<DocConversion> ConvertDocToHtml(const fs::path& source, const DocConverterPrograms& programs)
{
    std::string bytes;
    if (!ReadWholeFile(source, bytes)) {
        return std::nullopt;
    }
    const SourceKind kind = Classify(std::string_view(bytes).substr(0, 4096));
    if (kind == SourceKind::Refused) {
        return std::nullopt;
    }
    if (kind == SourceKind::Archive) {
        std::optional<std::string> html = ConvertMhtToHtml(bytes);
        return html ? std::optional<DocConversion>(DocConversion{std::move(*html), DocConverterKind::Archive})
                    : std::nullopt;
    }
    TempFolder work;
    if (!work.valid()) {
        return std::nullopt;
    }
    // The folder goes with a host that ends while no converter runs, too.
    const HostEndGuard folderGuard(0, {work.path().string()});
    const fs::path input = work.path() / WorkingCopyName(source);
    if (!WriteWholeFile(input, bytes)) {
        return std::nullopt;
    }
    bool officeRefused = false;
    if (!programs.service.empty()) {
        ServiceSettings settings;
        settings.program = programs.service;
        settings.timeLimit = programs.officeTimeLimit;
        // Never a working copy's name, which cannot start with ".".
        const fs::path page = work.path() / ".service-page.html";
        switch (ConvertWithService(settings, input.string(), page.string())) {
        case ServiceOutcome::Converted: {
            std::string html;
            if (NonEmptyFile(page, html)) {
                return DocConversion{KeepParagraphAlignment(html), DocConverterKind::Service};
            }
            break;
        }
        case ServiceOutcome::TimedOut:
            // The document has had its time; it would get it again from each converter.
            return std::nullopt;
        case ServiceOutcome::Refused:
            officeRefused = true;  // the same office, started again, would refuse it too
            break;
        case ServiceOutcome::Unavailable:
            break;
        }
    }
    if (std::optional<std::string> html = officeRefused ? std::nullopt : RunOffice(work.path(), input, programs)) {
        return DocConversion{std::move(*html), DocConverterKind::Office};
    }
    if (std::optional<std::string> html = RunWvHtml(work.path(), input, programs)) {
        return DocConversion{std::move(*html), DocConverterKind::WvHtml};
    }
    if (std::optional<std::string> html = RunAntiword(work.path(), input, programs)) {
        return DocConversion{std::move(*html), DocConverterKind::Antiword};
    }
    return std::nullopt;
}

}  // namespace docvert

#include "page_checks.h"

#include <glib.h>

#include <cstring>

#include "support/temp_dir.h"

namespace docverttest {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsBase64(char c) { return g_ascii_isalnum(c) || c == '+' || c == '/' || c == '='; }

std::string DecodeBase64(const std::string& text)
{
    gsize length = 0;
    guchar* bytes = g_base64_decode(text.c_str(), &length);
    std::string out(reinterpret_cast<const char*>(bytes), length);
    g_free(bytes);
    return out;
}

std::string Trimmed(std::string value)
{
    for (const char* quote : {"&quot;", "&#39;"}) {
        for (std::size_t at; (at = value.find(quote)) != std::string::npos;) {
            value.erase(at, std::strlen(quote));
        }
    }
    const std::size_t first = value.find_first_not_of(" \t\r\n\"'");
    const std::size_t last = value.find_last_not_of(" \t\r\n\"'");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

std::size_t FindNoCase(const std::string& text, const char* needle, std::size_t from)
{
    const std::size_t length = std::strlen(needle);
    for (std::size_t at = from; at + length <= text.size(); ++at) {
        if (g_ascii_strncasecmp(text.c_str() + at, needle, length) == 0) {
            return at;
        }
    }
    return std::string::npos;
}

// The payloads of every "data:<prefix>...;base64,<payload>" in the text.
std::vector<std::string> DataPayloads(const std::string& text, const char* prefix)
{
    std::vector<std::string> payloads;
    const std::string start = std::string("data:") + prefix;
    for (std::size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        const std::size_t comma = text.find(',', at);
        if (comma == std::string::npos || text.compare(comma - 7, 7, ";base64") != 0) {
            continue;
        }
        std::size_t end = comma + 1;
        while (end < text.size() && IsBase64(text[end])) {
            ++end;
        }
        payloads.push_back(DecodeBase64(text.substr(comma + 1, end - comma - 1)));
    }
    return payloads;
}

void AttributeReferences(const std::string& html, std::vector<std::string>& references)
{
    for (const char* name : {"src", "href", "background"}) {
        for (std::size_t at = FindNoCase(html, name, 0); at != std::string::npos;
             at = FindNoCase(html, name, at + 1)) {
            if (at == 0 || !(IsBlank(html[at - 1]) || html[at - 1] == '"' || html[at - 1] == '\'')) {
                continue;
            }
            std::size_t i = at + std::strlen(name);
            while (i < html.size() && IsBlank(html[i])) {
                ++i;
            }
            if (i >= html.size() || html[i] != '=') {
                continue;
            }
            ++i;
            while (i < html.size() && IsBlank(html[i])) {
                ++i;
            }
            std::size_t end = i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                end = html.find(html[i], i + 1);
                end = end == std::string::npos ? html.size() : end + 1;
            } else {
                while (end < html.size() && !IsBlank(html[end]) && html[end] != '>') {
                    ++end;
                }
            }
            references.push_back(Trimmed(html.substr(i, end - i)));
        }
    }
}

void CssReferences(const std::string& text, std::vector<std::string>& references)
{
    for (std::size_t at = FindNoCase(text, "url(", 0); at != std::string::npos;
         at = FindNoCase(text, "url(", at + 1)) {
        const std::size_t close = text.find(')', at);
        if (close != std::string::npos) {
            references.push_back(Trimmed(text.substr(at + 4, close - at - 4)));
        }
    }
}

}  // namespace

std::vector<std::string> ReferencesOf(const std::string& html)
{
    std::vector<std::string> references;
    AttributeReferences(html, references);
    CssReferences(html, references);
    for (const std::string& stylesheet : DataPayloads(html, "text/css")) {
        for (std::string& inner : ReferencesOf(stylesheet)) {
            references.push_back(std::move(inner));
        }
    }
    return references;
}

std::vector<std::string> LocalReferencesOf(const std::string& html)
{
    std::vector<std::string> local;
    for (const std::string& reference : ReferencesOf(html)) {
        const bool remote = reference.rfind("http://", 0) == 0 || reference.rfind("https://", 0) == 0 ||
                            reference.rfind("mailto:", 0) == 0;
        const bool inPage = reference.empty() || reference.front() == '#' || reference.rfind("data:", 0) == 0;
        if (!remote && !inPage) {
            local.push_back(reference);
        }
    }
    return local;
}

std::vector<std::string> EmbeddedImagesOf(const std::string& html)
{
    std::vector<std::string> images = DataPayloads(html, "image/");
    for (const std::string& stylesheet : DataPayloads(html, "text/css")) {
        for (std::string& inner : EmbeddedImagesOf(stylesheet)) {
            images.push_back(std::move(inner));
        }
    }
    return images;
}

ImageSize PngSize(const std::string& bytes)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        return {};
    }
    const auto word = [&](std::size_t at) {
        unsigned value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
        }
        return value;
    };
    return {word(16), word(20)};
}

std::string FixturePath(const std::string& name) { return MORVEX_SOURCE_DIR "/tests/tools/docvert/fixtures/" + name; }

std::string Fixture(const std::string& name) { return testsupport::ReadFileBytes(FixturePath(name)); }

}  // namespace docverttest

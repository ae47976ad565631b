#include "page_checks.h"

#include <glib.h>

#include <regex>

#include "support/temp_dir.h"

namespace docverttest {
namespace {

std::string DecodeBase64(const std::string& text)
{
    gsize length = 0;
    guchar* bytes = g_base64_decode(text.c_str(), &length);
    std::string out(reinterpret_cast<const char*>(bytes), length);
    g_free(bytes);
    return out;
}

std::string Unquoted(std::string value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) {
        value = value.substr(1, value.size() - 2);
    }
    const std::size_t first = value.find_first_not_of(" \t\r\n");
    const std::size_t last = value.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

}  // namespace

std::vector<std::string> ReferencesOf(const std::string& html)
{
    static const std::regex attribute(R"((?:^|[\s"'])(?:src|href|background)\s*=\s*("[^"]*"|'[^']*'|[^\s>]+))",
                                      std::regex::icase);
    static const std::regex cssUrl(R"(url\(\s*("[^"]*"|'[^']*'|[^)]*)\))", std::regex::icase);
    static const std::regex stylesheet(R"(data:text/css[^,]*;base64,([A-Za-z0-9+/=]+))");
    std::vector<std::string> references;
    for (const std::regex* pattern : {&attribute, &cssUrl}) {
        for (std::sregex_iterator it(html.begin(), html.end(), *pattern), end; it != end; ++it) {
            std::string value = Unquoted((*it)[1].str());
            for (const char* quote : {"&quot;", "&#39;"}) {
                for (std::size_t at; (at = value.find(quote)) != std::string::npos;) {
                    value.erase(at, std::string(quote).size());
                }
            }
            references.push_back(value);
        }
    }
    for (std::sregex_iterator it(html.begin(), html.end(), stylesheet), end; it != end; ++it) {
        for (std::string& inner : ReferencesOf(DecodeBase64((*it)[1].str()))) {
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
    static const std::regex image(R"(data:image/[a-z+.-]+;base64,([A-Za-z0-9+/=]+))");
    std::vector<std::string> images;
    static const std::regex stylesheet(R"(data:text/css[^,]*;base64,([A-Za-z0-9+/=]+))");
    for (std::sregex_iterator it(html.begin(), html.end(), image), end; it != end; ++it) {
        images.push_back(DecodeBase64((*it)[1].str()));
    }
    for (std::sregex_iterator it(html.begin(), html.end(), stylesheet), end; it != end; ++it) {
        for (std::string& inner : EmbeddedImagesOf(DecodeBase64((*it)[1].str()))) {
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

std::string FixturePath(const std::string& name) { return MORVEX_SOURCE_DIR "/tests/docvert/fixtures/" + name; }

std::string Fixture(const std::string& name) { return testsupport::ReadFileBytes(FixturePath(name)); }

}  // namespace docverttest

#include "tools/docvert/mht_converter.h"

#include <glib.h>

#include <memory>
#include <vector>

#include "tools/docvert/html_markup.h"
#include "tools/docvert/mht_archive.h"
#include "tools/docvert/reference_rewriter.h"
#include "tools/docvert/text_encoding.h"

namespace docvert {
namespace {

template <typename T>
struct GFreeDeleter {
    void operator()(T* p) const { g_free(p); }
};
using GText = std::unique_ptr<char, GFreeDeleter<char>>;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string Unescaped(const std::string& text)
{
    GText plain(g_uri_unescape_string(text.c_str(), nullptr));
    return plain ? std::string(plain.get()) : text;
}

std::string WithoutFragment(std::string text)
{
    const std::size_t hash = text.find('#');
    if (hash != std::string::npos) {
        text.erase(hash);
    }
    return text;
}

// The absolute form of `reference` seen from `base`; the reference itself when
// there is no usable base (archives whose pages carry no location).
std::string Resolve(const std::string& base, const std::string& reference)
{
    if (base.empty()) {
        return reference;
    }
    GError* error = nullptr;
    GText resolved(g_uri_resolve_relative(base.c_str(), reference.c_str(),
                                          static_cast<GUriFlags>(G_URI_FLAGS_PARSE_RELAXED | G_URI_FLAGS_ENCODED),
                                          &error));
    if (error != nullptr) {
        g_error_free(error);
    }
    return resolved ? std::string(resolved.get()) : reference;
}

// What two spellings of one location have in common: no fragment, no
// percent-escapes.
std::string LocationKey(const std::string& location) { return Unescaped(WithoutFragment(location)); }

std::string SafeMimeType(const std::string& mimeType)
{
    std::string safe;
    for (char c : mimeType) {
        if (g_ascii_isalnum(c) || c == '/' || c == '.' || c == '+' || c == '-' || c == '_') {
            safe.push_back(c);
        }
    }
    return safe.find('/') == std::string::npos ? std::string("application/octet-stream") : safe;
}

std::string DataUri(const std::string& mimeType, const std::string& bytes)
{
    GText base64(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
    return "data:" + mimeType + ";base64," + base64.get();
}

std::optional<std::string> CssCharset(std::string_view css)
{
    constexpr std::string_view kRule = "@charset \"";
    if (css.substr(0, kRule.size()) != kRule) {
        return std::nullopt;
    }
    const std::size_t close = css.find('"', kRule.size());
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(css.substr(kRule.size(), close - kRule.size()));
}

// Parts embedded in parts grow by a third at every level (base64), and a part
// referred to twice is embedded twice: a page of frames that each refer twice
// to the next frame doubles at every level. Everything embedded is counted,
// and a page that would need more than this is no page to show.
constexpr std::size_t kEmbedBudgetFixed = 32 * 1024 * 1024;
constexpr std::size_t kEmbedBudgetPerArchiveByte = 4;

class Inliner {
public:
    Inliner(MhtArchive archive, std::size_t budget) : m_archive(std::move(archive)), m_budget(budget)
    {
        const std::size_t count = m_archive.parts.size();
        m_cache.resize(count);
        m_busy.assign(count, false);
        m_rootLocation = m_archive.parts[m_archive.root].location;
        for (const MhtPart& part : m_archive.parts) {
            m_locations.push_back(part.location.empty() ? std::string() : Resolve(m_rootLocation, part.location));
            m_keys.push_back(m_locations.back().empty() ? std::string() : LocationKey(m_locations.back()));
        }
    }

    // True once embedding stopped because the budget ran out.
    bool Exceeded() const { return m_exceeded; }

    std::string Page()
    {
        m_busy[m_archive.root] = true;
        m_rootCharset = EffectiveHtmlCharset(m_archive.parts[m_archive.root]);
        return HtmlOf(m_archive.root);
    }

private:
    std::vector<std::string> HtmlLabels(const MhtPart& part) const
    {
        std::vector<std::string> labels;
        if (!part.charset.empty()) {
            labels.push_back(part.charset);
        }
        if (std::optional<std::string> meta = FindMetaCharset(part.body)) {
            labels.push_back(*meta);
        }
        return labels;
    }

    std::string EffectiveHtmlCharset(const MhtPart& part) const
    {
        for (const std::string& label : HtmlLabels(part)) {
            if (ConvertToUtf8("", label)) {
                return label;
            }
        }
        return {};
    }

    std::string HtmlOf(std::size_t index)
    {
        const MhtPart& part = m_archive.parts[index];
        const std::string text = DecodeToUtf8(part.body, HtmlLabels(part));
        const std::string base = m_locations[index];
        const std::string rewritten =
            RewriteHtmlReferences(text, [&](const std::string& reference) { return Embed(reference, base); });
        return DeclareUtf8(rewritten);
    }

    std::string CssOf(std::size_t index)
    {
        const MhtPart& part = m_archive.parts[index];
        std::vector<std::string> labels;
        if (!part.charset.empty()) {
            labels.push_back(part.charset);
        }
        if (std::optional<std::string> declared = CssCharset(part.body)) {
            labels.push_back(*declared);
        }
        if (!m_rootCharset.empty()) {
            labels.push_back(m_rootCharset);
        }
        const std::string text = DecodeToUtf8(part.body, labels);
        const std::string base = m_locations[index];
        return RewriteCssReferences(text, [&](const std::string& reference) { return Embed(reference, base); },
                                    false);
    }

    std::optional<std::size_t> Find(const std::string& reference, const std::string& base) const
    {
        if (reference.empty() || reference.front() == '#' || StartsWithNoCase(reference, "data:")) {
            return std::nullopt;
        }
        if (StartsWithNoCase(reference, "cid:")) {
            const std::string id = Unescaped(reference.substr(4));
            return FindBy([&](std::size_t i) { return m_archive.parts[i].contentId == id; },
                          [&](std::size_t i) { return EqualNoCase(m_archive.parts[i].contentId, id); });
        }
        const std::string key = LocationKey(Resolve(base, reference));
        if (key.empty()) {
            return std::nullopt;
        }
        return FindBy([&](std::size_t i) { return m_keys[i] == key; },
                      [&](std::size_t i) { return EqualNoCase(m_keys[i], key); });
    }

    // Exact matches first; the loose one only when nothing matches exactly,
    // for archives written on systems whose file names ignore case.
    template <typename Exact, typename Loose>
    std::optional<std::size_t> FindBy(Exact exact, Loose loose) const
    {
        for (std::size_t i = 0; i < m_archive.parts.size(); ++i) {
            if (exact(i)) {
                return i;
            }
        }
        for (std::size_t i = 0; i < m_archive.parts.size(); ++i) {
            if (loose(i)) {
                return i;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> Embed(const std::string& reference, const std::string& base)
    {
        if (m_exceeded) {
            return std::nullopt;
        }
        const std::optional<std::size_t> index = Find(reference, base);
        if (!index || m_busy[*index]) {
            return std::nullopt;  // unknown, or a part that refers back to itself
        }
        if (!m_cache[*index]) {
            m_busy[*index] = true;
            const MhtPart& part = m_archive.parts[*index];
            if (part.mimeType == "text/css") {
                m_cache[*index] = DataUri("text/css;charset=utf-8", CssOf(*index));
            } else if (part.mimeType == "text/html") {
                m_cache[*index] = DataUri("text/html;charset=utf-8", HtmlOf(*index));
            } else {
                m_cache[*index] = DataUri(SafeMimeType(part.mimeType), part.body);
            }
            m_busy[*index] = false;
        }
        if (m_exceeded || m_cache[*index]->size() > m_budget) {
            m_exceeded = true;
            return std::nullopt;
        }
        m_budget -= m_cache[*index]->size();
        return m_cache[*index];
    }

    MhtArchive m_archive;
    std::string m_rootLocation;
    std::string m_rootCharset;
    std::vector<std::string> m_locations;  // each part's absolute location
    std::vector<std::string> m_keys;
    std::vector<std::optional<std::string>> m_cache;
    std::vector<bool> m_busy;
    std::size_t m_budget;  // bytes that may still be embedded
    bool m_exceeded = false;
};

}  // namespace

std::optional<std::string> ConvertMhtToHtml(std::string_view bytes)
{
    std::optional<MhtArchive> archive = ReadMhtArchive(bytes);
    if (!archive) {
        return std::nullopt;
    }
    Inliner inliner(std::move(*archive), kEmbedBudgetFixed + kEmbedBudgetPerArchiveByte * bytes.size());
    std::string page = inliner.Page();
    if (inliner.Exceeded()) {
        return std::nullopt;
    }
    return page;
}

}  // namespace docvert

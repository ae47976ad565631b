#include "tools/docvert/reference_rewriter.h"

#include <glib.h>

#include <algorithm>
#include <array>

#include "tools/docvert/html_markup.h"

namespace docvert {
namespace {

constexpr std::array<std::string_view, 3> kReferenceAttributes = {"src", "href", "background"};

bool IsCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsIdentifierChar(char c) { return g_ascii_isalnum(c) || c == '-' || c == '_'; }

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view prefix)
{
    return pos + prefix.size() <= text.size() &&
           g_ascii_strncasecmp(text.data() + pos, prefix.data(), prefix.size()) == 0;
}

// The end of a CSS string starting at the quote at `pos` (after the closing
// quote, or the end of the text); backslash escapes are skipped.
std::size_t SkipCssString(std::string_view css, std::size_t pos)
{
    const char quote = css[pos];
    std::size_t i = pos + 1;
    while (i < css.size() && css[i] != quote) {
        i += css[i] == '\\' ? std::size_t{2} : std::size_t{1};
    }
    return std::min(i + 1, css.size());
}

std::string Prepare(std::string_view reference, bool decode)
{
    std::string text = decode ? DecodeCharacterReferences(reference) : std::string(reference);
    const std::size_t first = text.find_first_not_of(" \t\r\n\f");
    const std::size_t last = text.find_last_not_of(" \t\r\n\f");
    text = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    // In an attribute, url(&quot;x&quot;) is quoted only once decoded.
    if (decode && text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

// Reads "url(" ... ")" at `pos`; on success gives the reference and the end.
bool ReadUrlToken(std::string_view css, std::size_t pos, std::string_view& reference, std::size_t& end)
{
    std::size_t i = pos + 4;
    while (i < css.size() && IsCssSpace(css[i])) {
        ++i;
    }
    if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
        const std::size_t close = SkipCssString(css, i);
        reference = css.substr(i + 1, close - i - 2);
        i = close;
        while (i < css.size() && IsCssSpace(css[i])) {
            ++i;
        }
    } else {
        const std::size_t close = css.find(')', i);
        if (close == std::string_view::npos) {
            return false;
        }
        reference = css.substr(i, close - i);
        i = close;
    }
    if (i >= css.size() || css[i] != ')') {
        return false;
    }
    end = i + 1;
    return true;
}

}  // namespace

std::string RewriteCssReferences(std::string_view css, const ReferenceMapper& map, bool decodeReferences)
{
    std::string out;
    out.reserve(css.size());
    bool afterImport = false;
    std::size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            const std::size_t close = css.find("*/", i + 2);
            const std::size_t end = close == std::string_view::npos ? css.size() : close + 2;
            out.append(css.substr(i, end - i));
            i = end;
            continue;
        }
        if (c == '"' || c == '\'') {
            const std::size_t end = SkipCssString(css, i);
            std::optional<std::string> replacement;
            if (afterImport && end - i >= 2) {
                replacement = map(Prepare(css.substr(i + 1, end - i - 2), decodeReferences));
            }
            out.append(replacement ? "url(" + *replacement + ")" : std::string(css.substr(i, end - i)));
            afterImport = false;
            i = end;
            continue;
        }
        if (StartsWithNoCase(css, i, "url(") && (i == 0 || !IsIdentifierChar(css[i - 1]))) {
            std::string_view reference;
            std::size_t end = 0;
            if (ReadUrlToken(css, i, reference, end)) {
                const std::optional<std::string> replacement = map(Prepare(reference, decodeReferences));
                out.append(replacement ? "url(" + *replacement + ")" : std::string(css.substr(i, end - i)));
                afterImport = false;
                i = end;
                continue;
            }
        }
        if (c == '@' && StartsWithNoCase(css, i, "@import") &&
            (i + 7 >= css.size() || !IsIdentifierChar(css[i + 7]))) {
            out.append(css.substr(i, 7));
            afterImport = true;
            i += 7;
            continue;
        }
        if (!IsCssSpace(c)) {
            afterImport = false;
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

std::string RewriteHtmlReferences(std::string_view html, const ReferenceMapper& map)
{
    std::string out;
    out.reserve(html.size());
    for (const HtmlToken& token : TokenizeHtml(html)) {
        const std::string_view text = html.substr(token.begin, token.end - token.begin);
        switch (token.kind) {
        case HtmlTokenKind::Comment:
            out.append(html.substr(token.begin, token.innerBegin - token.begin));
            out.append(RewriteHtmlReferences(html.substr(token.innerBegin, token.innerEnd - token.innerBegin), map));
            out.append(html.substr(token.innerEnd, token.end - token.innerEnd));
            break;
        case HtmlTokenKind::RawText:
            if (token.tag.name == "style") {
                out.append(RewriteCssReferences(text, map, false));
            } else {
                out.append(text);
            }
            break;
        case HtmlTokenKind::Tag: {
            std::size_t copied = token.begin;
            for (const HtmlAttribute& attribute : token.tag.attributes) {
                if (!attribute.hasValue) {
                    continue;
                }
                std::string replacement;
                if (std::find(kReferenceAttributes.begin(), kReferenceAttributes.end(), attribute.name) !=
                    kReferenceAttributes.end()) {
                    const std::optional<std::string> mapped = map(attribute.Value());
                    if (!mapped) {
                        continue;
                    }
                    replacement = html.substr(attribute.begin, attribute.name.size());
                    replacement += "=\"" + *mapped + "\"";
                } else if (attribute.name == "style") {
                    const std::string css = RewriteCssReferences(attribute.rawValue, map, true);
                    if (css == attribute.rawValue) {
                        continue;
                    }
                    replacement = html.substr(attribute.begin, attribute.valueBegin - attribute.begin);
                    replacement += css;
                    replacement += html.substr(attribute.valueBegin + attribute.rawValue.size(),
                                               attribute.end - attribute.valueBegin - attribute.rawValue.size());
                } else {
                    continue;
                }
                out.append(html.substr(copied, attribute.begin - copied));
                out.append(replacement);
                copied = attribute.end;
            }
            out.append(html.substr(copied, token.end - copied));
            break;
        }
        case HtmlTokenKind::Text:
        case HtmlTokenKind::Declaration:
            out.append(text);
            break;
        }
    }
    return out;
}

}  // namespace docvert

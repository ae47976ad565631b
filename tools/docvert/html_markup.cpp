#include "tools/docvert/html_markup.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <utility>

namespace docvert {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return g_ascii_isalpha(c) != 0; }

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return static_cast<char>(g_ascii_tolower(c)); });
    return out;
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view prefix)
{
    return pos + prefix.size() <= text.size() &&
           g_ascii_strncasecmp(text.data() + pos, prefix.data(), prefix.size()) == 0;
}

std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from)
{
    for (std::size_t pos = from; pos + needle.size() <= text.size(); ++pos) {
        if (StartsWithNoCase(text, pos, needle)) {
            return pos;
        }
    }
    return std::string_view::npos;
}

constexpr std::array<std::string_view, 5> kRawTextElements = {"style", "script", "title", "textarea", "xmp"};

// Reads the tag starting at `pos` ("<" then a letter, or "</" then a letter).
// Returns the position after its ">" (or the end of the text).
std::size_t ReadTag(std::string_view html, std::size_t pos, HtmlTag& tag)
{
    std::size_t i = pos + 1;
    tag.closing = html[i] == '/';
    if (tag.closing) {
        ++i;
    }
    const std::size_t nameBegin = i;
    while (i < html.size() && !IsSpace(html[i]) && html[i] != '/' && html[i] != '>') {
        ++i;
    }
    tag.name = Lower(html.substr(nameBegin, i - nameBegin));
    for (;;) {
        while (i < html.size() && (IsSpace(html[i]) || html[i] == '/')) {
            ++i;
        }
        if (i >= html.size()) {
            return i;
        }
        if (html[i] == '>') {
            return i + 1;
        }
        HtmlAttribute attribute;
        attribute.begin = i;
        const std::size_t attrNameBegin = i;
        ++i;  // a first "=" belongs to the name
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '/' && html[i] != '>' && html[i] != '=') {
            ++i;
        }
        attribute.name = Lower(html.substr(attrNameBegin, i - attrNameBegin));
        attribute.end = i;
        std::size_t j = i;
        while (j < html.size() && IsSpace(html[j])) {
            ++j;
        }
        if (j < html.size() && html[j] == '=') {
            ++j;
            while (j < html.size() && IsSpace(html[j])) {
                ++j;
            }
            attribute.hasValue = true;
            if (j < html.size() && (html[j] == '"' || html[j] == '\'')) {
                const char quote = html[j];
                const std::size_t close = std::min(html.find(quote, j + 1), html.size());
                attribute.valueBegin = j + 1;
                attribute.rawValue = html.substr(j + 1, close - j - 1);
                i = std::min(close + 1, html.size());
            } else {
                std::size_t k = j;
                while (k < html.size() && !IsSpace(html[k]) && html[k] != '>') {
                    ++k;
                }
                attribute.valueBegin = j;
                attribute.rawValue = html.substr(j, k - j);
                i = k;
            }
            attribute.end = i;
        }
        if (tag.closing) {
            continue;  // attributes of end tags mean nothing
        }
        tag.attributes.push_back(std::move(attribute));
    }
}

void AppendUnicode(std::string& out, gunichar c)
{
    if (c == 0 || !g_unichar_validate(c)) {
        c = 0xFFFD;
    }
    char buffer[8];
    const int n = g_unichar_to_utf8(c, buffer);
    out.append(buffer, static_cast<std::size_t>(n));
}

std::string Trim(std::string_view text)
{
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::string CharsetFromContent(std::string_view content)
{
    const std::size_t at = FindNoCase(content, "charset", 0);
    if (at == std::string_view::npos) {
        return {};
    }
    std::size_t i = at + 7;
    while (i < content.size() && IsSpace(content[i])) {
        ++i;
    }
    if (i >= content.size() || content[i] != '=') {
        return {};
    }
    ++i;
    while (i < content.size() && (IsSpace(content[i]) || content[i] == '"' || content[i] == '\'')) {
        ++i;
    }
    std::size_t j = i;
    while (j < content.size() && !IsSpace(content[j]) && content[j] != ';' && content[j] != '"' &&
           content[j] != '\'') {
        ++j;
    }
    return std::string(content.substr(i, j - i));
}

bool IsContentTypeMeta(const HtmlTag& tag)
{
    const HtmlAttribute* equiv = tag.Find("http-equiv");
    return equiv != nullptr && g_ascii_strcasecmp(equiv->Value().c_str(), "content-type") == 0 &&
           tag.Find("content") != nullptr;
}

}  // namespace

std::string HtmlAttribute::Value() const { return Trim(DecodeCharacterReferences(rawValue)); }

const HtmlAttribute* HtmlTag::Find(std::string_view lowerName) const
{
    for (const HtmlAttribute& attribute : attributes) {
        if (attribute.name == lowerName) {
            return &attribute;
        }
    }
    return nullptr;
}

std::vector<HtmlToken> TokenizeHtml(std::string_view html)
{
    std::vector<HtmlToken> tokens;
    std::size_t textBegin = 0;
    std::size_t i = 0;
    const auto flushText = [&](std::size_t upTo) {
        if (upTo > textBegin) {
            HtmlToken text;
            text.begin = textBegin;
            text.end = upTo;
            tokens.push_back(std::move(text));
        }
    };
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        if (lt == std::string_view::npos || lt + 1 >= html.size()) {
            break;
        }
        const char next = html[lt + 1];
        HtmlToken token;
        token.begin = lt;
        if (html.compare(lt, 4, "<!--") == 0) {
            const std::size_t close = html.find("-->", lt + 4);
            token.kind = HtmlTokenKind::Comment;
            token.innerBegin = lt + 4;
            token.innerEnd = close == std::string_view::npos ? html.size() : close;
            token.end = close == std::string_view::npos ? html.size() : close + 3;
        } else if (next == '!' || next == '?') {
            const std::size_t close = html.find('>', lt + 2);
            token.kind = HtmlTokenKind::Declaration;
            token.end = close == std::string_view::npos ? html.size() : close + 1;
        } else if (IsAlpha(next) || (next == '/' && lt + 2 < html.size() && IsAlpha(html[lt + 2]))) {
            token.kind = HtmlTokenKind::Tag;
            token.end = ReadTag(html, lt, token.tag);
        } else {
            i = lt + 1;
            continue;
        }
        flushText(lt);
        i = token.end;
        textBegin = i;
        const bool rawText = token.kind == HtmlTokenKind::Tag && !token.tag.closing &&
                             std::find(kRawTextElements.begin(), kRawTextElements.end(), token.tag.name) !=
                                 kRawTextElements.end();
        if (rawText) {
            const std::string closer = "</" + token.tag.name;
            const std::size_t close = std::min(FindNoCase(html, closer, i), html.size());
            HtmlToken content;
            content.kind = HtmlTokenKind::RawText;
            content.begin = content.innerBegin = i;
            content.end = content.innerEnd = close;
            content.tag = token.tag;
            tokens.push_back(std::move(token));
            tokens.push_back(std::move(content));
            i = textBegin = close;
        } else {
            tokens.push_back(std::move(token));
        }
    }
    flushText(html.size());
    return tokens;
}

std::string DecodeCharacterReferences(std::string_view text)
{
    static constexpr std::array<std::pair<std::string_view, gunichar>, 6> kNamed = {{
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0},
    }};
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t semicolon = text.find(';', i + 1);
        if (semicolon == std::string_view::npos || semicolon - i > 10) {
            out.push_back(text[i++]);
            continue;
        }
        const std::string_view name = text.substr(i + 1, semicolon - i - 1);
        bool decoded = false;
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* endPtr = nullptr;
            const unsigned long long value = g_ascii_strtoull(digits.c_str(), &endPtr, hex ? 16 : 10);
            if (!digits.empty() && endPtr != nullptr && *endPtr == '\0') {
                AppendUnicode(out, value > 0x10FFFF ? 0xFFFD : static_cast<gunichar>(value));
                decoded = true;
            }
        } else {
            for (const auto& [entity, character] : kNamed) {
                if (name.size() == entity.size() &&
                    g_ascii_strncasecmp(name.data(), entity.data(), name.size()) == 0) {
                    AppendUnicode(out, character);
                    decoded = true;
                }
            }
        }
        if (decoded) {
            i = semicolon + 1;
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

std::optional<std::string> FindMetaCharset(std::string_view html)
{
    for (const HtmlToken& token : TokenizeHtml(html)) {
        if (token.kind != HtmlTokenKind::Tag || token.tag.closing || token.tag.name != "meta") {
            continue;
        }
        if (const HtmlAttribute* charset = token.tag.Find("charset"); charset != nullptr) {
            if (std::string value = charset->Value(); !value.empty()) {
                return value;
            }
        }
        if (IsContentTypeMeta(token.tag)) {
            if (std::string value = CharsetFromContent(token.tag.Find("content")->Value()); !value.empty()) {
                return value;
            }
        }
    }
    return std::nullopt;
}

std::string DeclareUtf8(std::string_view html)
{
    std::string out;
    out.reserve(html.size() + 80);
    bool declared = false;
    std::size_t afterHead = std::string::npos;
    std::size_t afterHtml = std::string::npos;
    std::size_t afterDoctype = std::string::npos;
    for (const HtmlToken& token : TokenizeHtml(html)) {
        const std::string_view text = html.substr(token.begin, token.end - token.begin);
        if (token.kind == HtmlTokenKind::Declaration && out.find_first_not_of(" \t\r\n") == std::string::npos &&
            StartsWithNoCase(text, 0, "<!doctype")) {
            out.append(text);
            afterDoctype = out.size();
            continue;
        }
        if (token.kind != HtmlTokenKind::Tag || token.tag.closing) {
            out.append(text);
            continue;
        }
        if (token.tag.name == "head" && afterHead == std::string::npos) {
            out.append(text);
            afterHead = out.size();
            continue;
        }
        if (token.tag.name == "html" && afterHtml == std::string::npos) {
            out.append(text);
            afterHtml = out.size();
            continue;
        }
        const HtmlAttribute* target = nullptr;
        std::string replacement;
        if (token.tag.name == "meta") {
            if ((target = token.tag.Find("charset")) != nullptr) {
                replacement = "charset=\"utf-8\"";
            } else if (IsContentTypeMeta(token.tag)) {
                target = token.tag.Find("content");
                replacement = "content=\"text/html; charset=utf-8\"";
            }
        }
        if (target == nullptr) {
            out.append(text);
            continue;
        }
        declared = true;
        out.append(html.substr(token.begin, target->begin - token.begin));
        out.append(replacement);
        out.append(html.substr(target->end, token.end - target->end));
    }
    if (!declared) {
        const std::size_t at = afterHead != std::string::npos   ? afterHead
                               : afterHtml != std::string::npos ? afterHtml
                               : afterDoctype != std::string::npos ? afterDoctype
                                                                   : 0;
        out.insert(at, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
    }
    return out;
}

std::string DropTags(std::string_view html, const std::function<bool(const HtmlTag&)>& drop)
{
    std::string out;
    out.reserve(html.size());
    for (const HtmlToken& token : TokenizeHtml(html)) {
        if (token.kind == HtmlTokenKind::Tag && !token.tag.closing && drop(token.tag)) {
            continue;
        }
        if (token.kind == HtmlTokenKind::Comment) {
            out.append(html.substr(token.begin, token.innerBegin - token.begin));
            out.append(DropTags(html.substr(token.innerBegin, token.innerEnd - token.innerBegin), drop));
            out.append(html.substr(token.innerEnd, token.end - token.innerEnd));
            continue;
        }
        out.append(html.substr(token.begin, token.end - token.begin));
    }
    return out;
}

std::string AppendStyleRules(std::string_view html, std::string_view rules)
{
    std::string style = "<style type=\"text/css\">";
    style.append(rules);
    style.append("</style>");
    for (const HtmlToken& token : TokenizeHtml(html)) {
        if (token.kind == HtmlTokenKind::Tag && token.tag.closing && token.tag.name == "head") {
            std::string out(html.substr(0, token.begin));
            out.append(style);
            out.append(html.substr(token.begin));
            return out;
        }
    }
    return std::string(html) + style;
}

}  // namespace docvert

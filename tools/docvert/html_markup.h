// A small, forgiving reader of HTML markup: enough to find tags and their
// attributes in the pages converters and archives produce, and to rewrite
// them while leaving every other byte as it was.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace docvert {

struct HtmlAttribute {
    std::string name;            // lower case
    std::string_view rawValue;   // as written, without its quotes
    bool hasValue = false;
    std::size_t begin = 0;       // the whole attribute, name to end of value
    std::size_t end = 0;
    std::size_t valueBegin = 0;  // rawValue's position
    // The value with character references decoded and outer blanks removed.
    std::string Value() const;
};

struct HtmlTag {
    std::string name;  // lower case
    bool closing = false;
    std::vector<HtmlAttribute> attributes;
    const HtmlAttribute* Find(std::string_view lowerName) const;
};

enum class HtmlTokenKind {
    Text,
    Tag,
    Comment,      // "<!--" ... "-->"; inner is what lies between
    Declaration,  // "<!DOCTYPE ...>", "<![if ...]>", "<?xml ...?>"
    RawText,      // the content of style, script, title, textarea or xmp
};

struct HtmlToken {
    HtmlTokenKind kind = HtmlTokenKind::Text;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t innerBegin = 0;  // Comment and RawText: the content
    std::size_t innerEnd = 0;
    HtmlTag tag;                 // Tag; for RawText, the element's start tag
};

// Splits the text into tokens that together cover every byte exactly once.
// Unterminated constructs run to the end of the text, as in browsers.
std::vector<HtmlToken> TokenizeHtml(std::string_view html);

// Decodes the character references of an attribute value (&amp;, &quot;,
// &#20013;, &#x4E2D; and the few other names pages use in URLs).
std::string DecodeCharacterReferences(std::string_view text);

// The charset a page declares in a meta element, if any (comments excluded).
std::optional<std::string> FindMetaCharset(std::string_view html);

// Makes the page declare UTF-8: every charset its meta elements declare
// becomes utf-8; a page without such a meta element gets one at the top of
// its head (or of the html element, or of the text).
std::string DeclareUtf8(std::string_view html);

// Removes the start tags for which `drop` is true (their content stays), also
// inside comments, which some readers show.
std::string DropTags(std::string_view html, const std::function<bool(const HtmlTag&)>& drop);

// Adds a style element holding `rules` at the end of the page's head (at the
// end of the text when it has no head), after the page's own stylesheet, so
// that the rules win over the page's rules of the same weight.
std::string AppendStyleRules(std::string_view html, std::string_view rules);

}  // namespace docvert

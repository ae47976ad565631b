// Rewriting the references of a page or stylesheet to other resources: the
// src, href and background attributes, style attributes and style elements,
// and in CSS every url() and @import.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace docvert {

// Given a reference as the document holds it (character references decoded,
// outer blanks removed), returns what to put in its place, or nothing to keep
// it as it is. A replacement must be usable unquoted in CSS and quoted in HTML
// (a data: URI in base64 is).
using ReferenceMapper = std::function<std::optional<std::string>(const std::string& reference)>;

// Rewrites the references of a page. Comments are rewritten as markup too,
// since conditional comments hold markup that some readers show.
std::string RewriteHtmlReferences(std::string_view html, const ReferenceMapper& map);

// Rewrites url() and @import references of a stylesheet. `decodeReferences`
// is set for CSS inside an HTML attribute, where references may carry
// character references such as &quot;.
std::string RewriteCssReferences(std::string_view css, const ReferenceMapper& map, bool decodeReferences);

}  // namespace docvert

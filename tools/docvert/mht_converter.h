// MHT archive to one self-contained HTML page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace docvert {

// Converts the archive's root page to UTF-8 HTML that declares utf-8, with
// every reference to another part of the archive (cid: or Content-Location,
// relative ones resolved against the referring part's location) replaced by a
// data: URI of that part; stylesheets and framed pages are converted the same
// way before they are embedded. References to nothing in the archive stay as
// they are. Empty when the bytes hold no archive with a page to show, and
// when the parts to embed would come to more than 32 MiB plus four times the
// archive's size (parts embedded in parts, over and over).
std::optional<std::string> ConvertMhtToHtml(std::string_view bytes);

}  // namespace docvert

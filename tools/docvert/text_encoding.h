// Character sets of the documents inside an archive.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace docvert {

// The iconv name for a charset label. Every label that pages use for simplified
// Chinese (gb2312, gbk, x-gbk, cp936, euc-cn and the like) means GBK, because
// real pages labelled gb2312 carry code page 936 characters that GB 2312 lacks.
// Other labels come back trimmed, unquoted and upper case; empty stays empty.
std::string CanonicalCharset(std::string_view label);

// Converts bytes in `charset` (a label as above) to UTF-8; a byte sequence
// that is invalid in the charset becomes U+FFFD and conversion goes on. Empty
// when iconv does not know the charset.
std::optional<std::string> ConvertToUtf8(std::string_view bytes, std::string_view charset);

// Decodes text whose charset is uncertain: a byte-order mark wins; then the
// first of `labels` that iconv knows; then UTF-8 when the bytes are valid
// UTF-8; else GBK. The result carries no byte-order mark.
std::string DecodeToUtf8(std::string_view bytes, const std::vector<std::string>& labels);

}  // namespace docvert

// The parts of an MHT archive (a MIME multipart/related message).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace docvert {

struct MhtPart {
    std::string mimeType;   // lower case, "type/subtype"
    std::string charset;    // the charset parameter as written; may be empty
    std::string contentId;  // without angle brackets; may be empty
    std::string location;   // Content-Location as written; may be empty
    std::string body;       // with its transfer encoding undone
};

struct MhtArchive {
    std::vector<MhtPart> parts;
    std::size_t root = 0;  // the page to show
};

// Parses an archive. The root is the part the multipart's "start" parameter
// names, else the first text/html part. Empty when the bytes are no MIME
// message or hold no HTML part to show.
std::optional<MhtArchive> ReadMhtArchive(std::string_view bytes);

}  // namespace docvert

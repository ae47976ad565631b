#include "transfer/curl_verbose.h"

#include <cctype>
#include <cstdio>

namespace transfer {
namespace {

bool IsPassCommand(std::string_view text)
{
    constexpr std::string_view kPass = "PASS";
    if (text.size() < kPass.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kPass.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != kPass[i]) {
            return false;
        }
    }
    return text.size() == kPass.size() || text[kPass.size()] == ' ' || text[kPass.size()] == '\r';
}

int WriteVerbose(CURL* /*handle*/, curl_infotype type, char* data, std::size_t size, void* /*user*/)
{
    const std::string line = VerboseLine(type, std::string_view(data, size));
    if (!line.empty()) {
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
    return 0;
}

}  // namespace

std::string VerboseLine(curl_infotype type, std::string_view text)
{
    switch (type) {
    case CURLINFO_TEXT:
        return "* " + std::string(text);
    case CURLINFO_HEADER_IN:
        return "< " + std::string(text);
    case CURLINFO_HEADER_OUT:
        // A command goes out as one piece, so the whole piece is the command.
        return IsPassCommand(text) ? std::string("> PASS ****\r\n") : "> " + std::string(text);
    default:
        return {};
    }
}

void SetVerboseWithoutPassword(CURL* handle)
{
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, WriteVerbose);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
}

}  // namespace transfer

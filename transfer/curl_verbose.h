// libcurl's verbose output on standard error, without the FTP password.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <curl/curl.h>

namespace transfer {

// Turns verbose output on for the handle. The lines look as libcurl's own
// verbose output does ("* " notes, "> " commands, "< " replies, no data), but
// a PASS command is written as "> PASS ****", so logs can be shared.
void SetVerboseWithoutPassword(CURL* handle);

// The text written for one piece of verbose output; empty for data.
std::string VerboseLine(curl_infotype type, std::string_view text);

}  // namespace transfer

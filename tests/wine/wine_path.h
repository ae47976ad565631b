// A Linux path as a Windows program under Wine names it: on drive Z:, which
// Wine maps to "/", with "\" between the components.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>

inline std::string WinePath(const std::filesystem::path& path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

#include "support/system.h"

#include <cstdlib>

namespace testsupport::system {

bool MakeUniqueDirectory(std::string& pattern) { return mkdtemp(pattern.data()) != nullptr; }

void SetEnvironment(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

void RemoveFromEnvironment(const std::string& name) { unsetenv(name.c_str()); }

std::string NativeSeparators(std::string path)
{
    for (char& c : path) {
        if (c == '/') {
            c = '/';
        }
    }
    return path;
}

const char* const kProgramSuffix = "";

const char* KnownQuirk(std::string_view /*what*/) { return nullptr; }

}  // namespace testsupport::system

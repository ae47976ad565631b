#include "support/scoped_env.h"

#include <cstdlib>

#include "support/system.h"

namespace testsupport {

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name)
{
    if (const char* old = std::getenv(name)) {
        m_old = old;
    }
    system::SetEnvironment(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (m_old) {
        system::SetEnvironment(m_name, *m_old);
    } else {
        system::RemoveFromEnvironment(m_name);
    }
}

std::string PathWithFirst(const std::filesystem::path& folder)
{
#ifdef _WIN32
    constexpr char kListSeparator = ';';
#else
    constexpr char kListSeparator = ':';
#endif
    const char* path = std::getenv("PATH");
    return folder.string() + kListSeparator + (path != nullptr ? path : "");
}

}  // namespace testsupport

#include "support/scoped_env.h"

#include <cstdlib>

namespace testsupport {

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name)
{
    if (const char* old = std::getenv(name)) {
        m_old = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (m_old) {
        setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
        unsetenv(m_name.c_str());
    }
}

std::string PathWithFirst(const std::filesystem::path& folder)
{
    const char* path = std::getenv("PATH");
    return folder.string() + ":" + (path != nullptr ? path : "");
}

}  // namespace testsupport

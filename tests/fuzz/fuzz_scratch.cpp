#include "fuzz_scratch.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include "fuzz_check.h"

namespace fuzz {
namespace {

std::filesystem::path MakeScratch()
{
    std::error_code error;
    std::filesystem::path parent = "/dev/shm";
    if (!std::filesystem::is_directory(parent, error)) {
        parent = std::filesystem::temp_directory_path();
    }
    std::string pattern = (parent / "morvex-fuzz-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be created");
    return pattern;
}

struct Scratch {
    std::filesystem::path path = MakeScratch();
    ~Scratch()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
};

}  // namespace

const std::filesystem::path& ScratchFolder()
{
    static const Scratch scratch;
    return scratch.path;
}

void EmptyScratchFolder()
{
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(ScratchFolder(), error)) {
        // Read-only files and folders must not stop the clean-up.
        std::filesystem::permissions(item.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(item.path(), error);
    }
}

}  // namespace fuzz

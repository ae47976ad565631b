#include "support/private_shm.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace testsupport {
namespace {

constexpr char kMarker[] = "MORVEX_TEST_PRIVATE_SHM";

}  // namespace

PrivateShm RunWithPrivateShm()
{
    if (std::getenv(kMarker) != nullptr) {
        return PrivateShm::Here;
    }
    const std::vector<std::string> unshare = {"/usr/bin/unshare", "--user", "--map-root-user", "--mount"};
    std::vector<std::string> probe = unshare;
    probe.insert(probe.end(), {"/bin/sh", "-c", "mount -t tmpfs tmpfs /dev/shm"});
    if (RunAndWait(probe) != 0) {
        return PrivateShm::Unavailable;
    }
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::vector<std::string> rerun = unshare;
    rerun.insert(rerun.end(),
                 {"/bin/sh", "-c", std::string("mount -t tmpfs tmpfs /dev/shm && ") + kMarker + "=1 exec \"$0\" \"$1\"",
                  std::filesystem::read_symlink("/proc/self/exe").string(),
                  std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()});
    EXPECT_EQ(RunAndWait(rerun), 0) << "the test failed in its own namespace";
    return PrivateShm::RanElsewhere;
}

}  // namespace testsupport

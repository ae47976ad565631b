// Tests that count the posts of the machine-wide completion event run in a
// mount namespace of their own, with a /dev/shm no other run can reach.
#pragma once

namespace testsupport {

enum class PrivateShm {
    Here,        // this process already has a private /dev/shm: run the test
    RanElsewhere,  // the test ran again in its own namespace; its result is recorded
    Unavailable,   // user namespaces are not allowed here
};

// Called first in a test: outside a private namespace it runs the current test
// again (the same program, filtered to it) under unshare with a fresh tmpfs on
// /dev/shm and records a failure when that run fails.
PrivateShm RunWithPrivateShm();

}  // namespace testsupport

// The first statement of a test that counts the event's posts: the rest of
// the test runs only in a private namespace.
#define MORVEX_RUN_WITH_PRIVATE_SHM()                                                 \
    switch (testsupport::RunWithPrivateShm()) {                                       \
    case testsupport::PrivateShm::Unavailable:                                        \
        GTEST_SKIP() << "needs a private /dev/shm (unshare --user --mount)";          \
    case testsupport::PrivateShm::RanElsewhere:                                       \
        return;                                                                       \
    case testsupport::PrivateShm::Here:                                               \
        break;                                                                        \
    }

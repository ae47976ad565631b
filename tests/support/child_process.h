// The one way tests run a helper program to its end.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Runs a program (argv[0] is its path) with arguments and waits for it; its
// exit status, or -1 when it could not be run or did not exit normally.
int RunAndWait(const std::vector<std::string>& argv);

}  // namespace testsupport

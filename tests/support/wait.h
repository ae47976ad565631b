// Waiting for a condition in tests. The bound only guards against hanging:
// no test may depend on how soon a condition comes true.
#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Long enough for a loaded machine to start an office or a web view.
inline constexpr std::chrono::milliseconds kWaitBound = std::chrono::seconds(120);

// Polls `condition` until it holds; false when `bound` passed first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = kWaitBound);

}  // namespace testsupport

// The conversion library starts a resident converter per user that outlives
// its host by design. Test programs that convert Word documents through the
// real library register this environment, so that the converter they start
// lives in a runtime folder of their own and ends with the test program:
//
//   const auto* g_service = ::testing::AddGlobalTestEnvironment(new testsupport::ConverterServiceScope);
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "support/wait.h"

namespace testsupport {

class ScopedEnv;
class TempDir;

class ConverterServiceScope : public ::testing::Environment {
public:
    ConverterServiceScope();
    ~ConverterServiceScope() override;
    void SetUp() override;
    // Ends the converter started under this scope and waits until it is gone.
    void TearDown() override;

private:
    std::unique_ptr<TempDir> m_runtime;
    std::unique_ptr<ScopedEnv> m_env;
};

// Ends the converter of the runtime folder `runtime` (if one runs) and waits
// until it has released its lock; false when it did not end in time.
bool EndConverterService(const std::filesystem::path& runtime);

// Whether a converter holds the lock of the runtime folder `runtime`: it
// runs, loaded or loading.
bool ConverterServiceRuns(const std::filesystem::path& runtime);

}  // namespace testsupport

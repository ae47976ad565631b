// The crash checks, the same wherever the updater's runs are made: each test
// program instantiates them with its own way of starting the updater
// (INSTANTIATE_TEST_SUITE_P(<name>, JournalCrash, testing::Values(launcher))).
#pragma once

#include <gtest/gtest.h>

#include "updater/workflow/journal/journal_scene.h"

class JournalCrash : public testing::TestWithParam<UpdaterLauncher> {
protected:
    JournalSceneOptions Options(JournalSceneOptions options = {}) const
    {
        options.launcher = GetParam();
        return options;
    }
};

// The launcher's name, for the tests' names.
inline std::string LauncherName(const testing::TestParamInfo<UpdaterLauncher>& info) { return info.param.name; }

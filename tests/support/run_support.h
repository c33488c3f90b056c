// A temporary directory per test, and command lines run in it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace morivane::petest {

using morivane::testing::ReadText;
using morivane::testing::RunResult;

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()) << "no temporary directory"; }

    // Runs `command` (a shell command line) with stdout and stderr captured.
    RunResult Run(const std::string& command) const {
        return morivane::testing::RunCommand(command, dir_);
    }

    morivane::testing::TempDir tmp_{"pe_test"};
    const std::filesystem::path& dir_ = tmp_.path();
};

}  // namespace morivane::petest

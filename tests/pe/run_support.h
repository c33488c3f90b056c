// Running a command line from the tests, and a temporary directory per test.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace morivane::petest {

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDirTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "pe_test_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Runs `command` (a shell command line) with stdout and stderr captured.
    RunResult Run(const std::string& command) const {
        const auto out = dir_ / ".stdout";
        const auto err = dir_ / ".stderr";
        const std::string line = command + " >'" + out.string() + "' 2>'" + err.string() + "'";
        const int raw = std::system(line.c_str());
        RunResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        std::filesystem::remove(out);
        std::filesystem::remove(err);
        return r;
    }

    std::filesystem::path dir_;
};

}  // namespace morivane::petest

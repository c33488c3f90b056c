// What FileSystem::CreateNew promises wherever it runs: the file is held from
// the moment it has its name, a second creation under that name fails and
// leaves the first alone, and nothing else (no private name of its making)
// appears in the directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "seams/file_system.h"

namespace morivane::testing {

// Creates `dir`/Clone.rec through `fs`, in an otherwise empty `dir`, and
// checks the promise above.
inline void ExpectBornLocked(FileSystem& fs, const std::string& dir) {
    const std::string record = (std::filesystem::path(dir) / "Clone.rec").string();
    auto out = fs.CreateNew(record);
    ASSERT_NE(out, nullptr);
    bool inUse = false;
    EXPECT_EQ(fs.OpenUnshared(record, &inUse), nullptr);
    EXPECT_TRUE(inUse);
    EXPECT_EQ(fs.CreateNew(record), nullptr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(out->Write("entry", 1, 5), 5u);
    EXPECT_TRUE(out->Close());
    auto in = fs.OpenUnshared(record, &inUse);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->Length(), 5);
}

}  // namespace morivane::testing

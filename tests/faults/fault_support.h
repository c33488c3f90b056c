// Pieces shared by the fault tests: the progress lines `sabunn update`
// prints, the scripts inside the demo payloads, and running the update on a
// directory.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "patch/payload.h"
#include "tests/support/update_test_support.h"

namespace morivane::faulttest {

using namespace morivane::updatetest;

inline constexpr int kRows = 5;
inline constexpr std::uint64_t kPage = 4096;

// Bytes a file of `n` bytes takes on a tmpfs: whole pages.
inline std::uint64_t Pages(std::uint64_t n) {
    return (n + kPage - 1) / kPage * kPage;
}

// Row `row` (0 to 4) as the progress lines name it: "dat\Iobjectc.til".
inline std::string ProgressName(int row) {
    std::string name = kFiveFiles[static_cast<std::size_t>(row)];
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return name;
}

inline std::string ProgressHead(int row) {
    return "[" + std::to_string(row + 1) + "/5] " + ProgressName(row) + " (payload " +
           std::to_string(kPayloadIds[row]) + ") ...";
}

// Expects the progress lines of a run that rebuilt rows 0 to `rebuilt` - 1
// and then, when `failedRow` is given, reported `message` for that row's
// patch; no row after the last of these is mentioned.
inline void ExpectProgress(const std::string& out, int rebuilt, std::optional<int> failedRow,
                           int message) {
    std::string expected;
    for (int row = 0; row < rebuilt; ++row) expected += ProgressHead(row) + " rebuilt\n";
    int last = rebuilt - 1;
    if (failedRow) {
        expected +=
            ProgressHead(*failedRow) + " failed with message " + std::to_string(message) + "\n";
        last = *failedRow;
    }
    EXPECT_NE(out.find(expected), std::string::npos) << "expected:\n"
                                                     << expected << "got:\n"
                                                     << out;
    if (last + 1 < kRows) {
        const std::string next = "[" + std::to_string(last + 2) + "/5]";
        EXPECT_EQ(out.find(next), std::string::npos) << out;
    }
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

// The SABUNN script inside a payload's bytes: the payload itself, or what its
// HF container decodes to. Empty when it does not decode.
inline std::vector<std::uint8_t> ScriptOf(const std::vector<std::uint8_t>& payload) {
    const PayloadScript script = ScriptOfPayload(payload);
    return std::vector<std::uint8_t>(script.script.begin(), script.script.end());
}

// `sabunn update` on `inst` with the payloads in `payloads`, which may lack
// their sums (--no-sums): these faults are found by the run and the patcher.
inline std::vector<std::string> UpdateArguments(const fs::path& inst, const fs::path& payloads) {
    return {kSabunn,   "update", "--install-dir", inst.string(), "--payloads", payloads.string(),
            "--no-sums", "--yes"};
}

}  // namespace morivane::faulttest

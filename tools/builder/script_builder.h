// The publisher's side of the block-diff script: given an old and a new file,
// the SABUNN script that rebuilds the new file from units of the old one and
// units carried in the script. The layout is in patch/sabunn_script.h; the
// builder writes the header, the run list (copy runs > 0, literal runs < 0,
// never 0), the offset list and the pool in that order with consistent counts.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/bytes.h"
#include "patch/sabunn_script.h"
#include "tools/builder/match_finder.h"
#include "tools/builder/parse.h"

namespace morivane {

// Files the builder accepts: the patcher holds lengths and counts in signed
// 32-bit fields.
inline constexpr std::uint64_t kMaxBuildFileBytes = 0x7FFFFFFF;

enum class BuildStatus {
    Ok = 0,
    BadUnit,           // unit size < 1 or larger than the 32-bit field allows
    NewNotWholeUnits,  // the new file's length is not a multiple of the unit size
    TooLarge,          // a file is longer than kMaxBuildFileBytes
};

// The header of a script the builder made, and what it took to make it.
struct BuildReport {
    BuildStatus status = BuildStatus::Ok;
    std::uint32_t newUnits = 0;
    std::uint32_t unitSize = 0;
    std::uint32_t runCount = 0;
    std::uint32_t copyCount = 0;
    std::uint32_t literalUnits = 0;
    // True when one run was split (or two merged) to keep the run count's low
    // 16 bits away from the HF magic; see BuildOptions::plainStorable.
    bool runCountAdjusted = false;
    // What the parse's cost model expects the packed script to take, in bytes.
    double estimatedBytes = 0;
};

struct BuildOptions {
    // A plain script whose run count has the low 16 bits 0x4648 would be taken
    // for an HF container by the patcher. When set, the builder then splits one
    // run in two (or, when every run is one unit long, turns the first two runs
    // into one literal run), which changes R and nothing the script rebuilds.
    bool plainStorable = false;
    MatchOptions matching;
    ParseCosts costs;
};

// Checks the inputs a script needs: a unit size of at least 1, files the
// patcher can hold, a new file of whole units.
BuildStatus CheckBuildInput(std::uint64_t oldBytes, std::uint64_t newBytes, int unit);

// Builds the script that turns `old` into `neu` with units of `unit` bytes.
//
// Copy runs may start at any byte offset of the old file (see MatchTable); the
// runs are those of the cheapest plan under options.costs (see PlanRuns). Runs
// are at most kScriptMaxRun units long, no entry is 0, and the header counts
// agree with the lists. Copies never read past the old file's last byte.
//
// `old` may be of any length, including 0. On bad input the result is empty
// (a valid script is never shorter than its 20-byte header) and
// report->status says why. Deterministic: equal inputs give equal scripts.
std::vector<std::uint8_t> BuildScript(ByteSpan old, ByteSpan neu, int unit,
                                      const BuildOptions& options = {},
                                      BuildReport* report = nullptr);

// The script for a plan made for `neu` with units of `unit` bytes (the inputs
// already checked); fills *report.
std::vector<std::uint8_t> WriteScript(const Plan& plan, ByteSpan neu, std::uint32_t unit,
                                      bool plainStorable, BuildReport* report);

}  // namespace morivane

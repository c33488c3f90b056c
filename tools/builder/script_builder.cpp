#include "tools/builder/script_builder.h"

#include <cstring>

#include "decode/hf.h"

namespace morivane {

namespace {

// Changes the run count by one without changing what the script rebuilds.
void AdjustRunCount(std::vector<PlannedRun>& runs, std::uint32_t unit) {
    for (std::size_t i = 0; i < runs.size(); ++i) {
        PlannedRun& r = runs[i];
        if (r.units < 2) continue;
        PlannedRun rest = r;
        rest.units = r.units - 1;
        rest.newUnit = r.newUnit + 1;
        if (r.copy) rest.oldOffset = r.oldOffset + unit;
        r.units = 1;
        runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
        return;
    }
    // Every run is one unit long (and there are at least two, as R > 0x4648):
    // the first two become one literal run of two units.
    runs[0] = {false, 2, runs[0].newUnit, 0};
    runs.erase(runs.begin() + 1);
}

}  // namespace

BuildStatus CheckBuildInput(std::uint64_t oldBytes, std::uint64_t newBytes, int unit) {
    if (unit < 1) return BuildStatus::BadUnit;
    if (oldBytes > kMaxBuildFileBytes || newBytes > kMaxBuildFileBytes) {
        return BuildStatus::TooLarge;
    }
    if (newBytes % static_cast<std::uint64_t>(unit) != 0) return BuildStatus::NewNotWholeUnits;
    return BuildStatus::Ok;
}

std::vector<std::uint8_t> WriteScript(const Plan& plan, ByteSpan neu, std::uint32_t unit,
                                      bool plainStorable, BuildReport* report) {
    std::vector<PlannedRun> runs = plan.runs;
    *report = BuildReport{};
    if (plainStorable && (runs.size() & 0xFFFF) == kHfMagic) {
        AdjustRunCount(runs, unit);
        report->runCountAdjusted = true;
    }

    std::vector<std::int16_t> entries;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint8_t> pool;
    entries.reserve(runs.size());
    for (const PlannedRun& r : runs) {
        if (r.copy) {
            entries.push_back(static_cast<std::int16_t>(r.units));
            offsets.push_back(r.oldOffset);
        } else {
            entries.push_back(static_cast<std::int16_t>(-static_cast<std::int32_t>(r.units)));
            const std::uint8_t* from = neu.data() + std::size_t{r.newUnit} * unit;
            pool.insert(pool.end(), from, from + std::size_t{r.units} * unit);
        }
    }
    std::vector<std::uint8_t> script =
        EncodeScript(static_cast<std::int32_t>(unit), entries, offsets, pool);

    report->newUnits = static_cast<std::uint32_t>(neu.size() / unit);
    report->unitSize = unit;
    report->runCount = static_cast<std::uint32_t>(entries.size());
    report->copyCount = static_cast<std::uint32_t>(offsets.size());
    report->literalUnits = static_cast<std::uint32_t>(pool.size() / unit);
    report->estimatedBytes = static_cast<double>(plan.cost) / 256.0;
    return script;
}

std::vector<std::uint8_t> BuildScript(ByteSpan old, ByteSpan neu, int unitSize,
                                      const BuildOptions& options, BuildReport* report) {
    BuildReport local;
    BuildReport& rep = report != nullptr ? *report : local;
    rep = BuildReport{};
    rep.status = CheckBuildInput(old.size(), neu.size(), unitSize);
    if (rep.status != BuildStatus::Ok) return {};
    const auto unit = static_cast<std::uint32_t>(unitSize);
    MatchOptions matching = options.matching;
    matching.units = std::span<const std::uint32_t>(&unit, 1);
    const MatchTable matches = MatchTable::Find(old, neu, matching);
    const Plan plan = PlanRuns(matches, neu.size(), unit, options.costs);
    return WriteScript(plan, neu, unit, options.plainStorable, &rep);
}

}  // namespace morivane

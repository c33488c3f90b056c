#include "tools/builder/make_payload.h"

#include <algorithm>
#include <array>

#include "decode/hf.h"
#include "patch/sabunn_script.h"
#include "tools/builder/readback.h"

namespace morivane {

namespace {

// What the parts of a packed script cost, in 1/256 byte, as measured on real
// binaries: a run entry compresses to about a byte (its neighbours repeat), an
// offset hardly compresses, a pool byte a little.
constexpr ParseCosts kPackedCosts{256, 4 * 256, 256};
// A plain script costs exactly its bytes.
constexpr ParseCosts kPlainCosts{2 * 256, 4 * 256, 256};
// Unit sizes whose estimate is within this factor of the best one are made into
// payloads too, at most kMostMade in all: the estimate does not see how well
// LZSS and the Huffman stage take to a script.
constexpr double kMakeMargin = 1.02;
constexpr std::size_t kMostMade = 3;

// The script's structure as the builder guarantees it: it parses, its header
// counts agree with its lists, it has no 0 entry and nothing after the pool,
// and its copies stay inside the old file. Returns what is wrong, or "".
std::string CheckScript(ByteSpan old, ByteSpan neu, ByteSpan payload) {
    ByteBuffer unpacked;
    ByteSpan script = payload;
    if (IsHfContainer(payload)) {
        unpacked = HfLzssUnpack(payload);
        if (!unpacked) return "the packed payload does not unpack";
        script = unpacked.span();
    }
    ScriptView view;
    if (const ScriptError error = ScriptView::Parse(script, &view); error != ScriptError::Ok) {
        return std::string("the script does not parse: ") + ScriptErrorName(error);
    }
    const ScriptSummary& summary = view.Summary();
    if (!summary.IsConsistent(view.Header()) || summary.zeroRuns != 0 ||
        summary.scriptBytes != script.size()) {
        return "the script's header does not match its lists";
    }
    if (summary.oldBytesNeeded > old.size()) return "a copy run reaches past the old file";
    if (summary.newFileBytes != neu.size()) return "the script rebuilds a file of the wrong length";
    return {};
}

std::string InputMessage(BuildStatus status, int unit, std::size_t newBytes,
                         const std::string& newName) {
    switch (status) {
        case BuildStatus::Ok:
            break;
        case BuildStatus::BadUnit:
            return "the unit size must be at least 1";
        case BuildStatus::TooLarge:
            return "a file is larger than 2 GiB - 1 byte, more than the patcher holds";
        case BuildStatus::NewNotWholeUnits: {
            std::string units;
            for (int u : SuggestUnits(newBytes)) {
                units += (units.empty() ? "--unit " : " or --unit ") + std::to_string(u);
            }
            return newName + " is " + std::to_string(newBytes) +
                   " bytes long, not a multiple of the unit size " + std::to_string(unit) +
                   "; the new file must consist of whole units. Use a unit size that divides "
                   "its length (" +
                   units + "), leave --unit out to let sabunn choose, or pad " + newName +
                   " to a multiple of " + std::to_string(unit) + " bytes.";
        }
    }
    return {};
}

MakeStatus StatusOf(BuildStatus status) {
    switch (status) {
        case BuildStatus::Ok:
            return MakeStatus::Ok;
        case BuildStatus::BadUnit:
            return MakeStatus::BadUnit;
        case BuildStatus::NewNotWholeUnits:
            return MakeStatus::NewNotWholeUnits;
        case BuildStatus::TooLarge:
            return MakeStatus::TooLarge;
    }
    return MakeStatus::BadUnit;
}

// Where the script's parts end.
std::array<std::size_t, kScriptParts> PartEnds(const BuildReport& r) {
    const std::size_t runs = kScriptHeaderSize + 2 * std::size_t{r.runCount};
    const std::size_t offsets = runs + 4 * std::size_t{r.copyCount};
    return {kScriptHeaderSize, runs, offsets, offsets + std::size_t{r.literalUnits} * r.unitSize};
}

struct Candidate {
    std::uint32_t unit;
    Plan plan;
};

// A made payload and its script's figures.
struct Made {
    std::vector<std::uint8_t> payload;
    BuildReport report;
    std::size_t scriptBytes = 0;
    PayloadAccount account;
};

}  // namespace

std::vector<int> SuggestUnits(std::uint64_t length) {
    std::vector<int> units;
    int divisor = 32;
    while (divisor > 1 && length % static_cast<std::uint64_t>(divisor) != 0) --divisor;
    int power = 32;
    while (power > 1 && length % static_cast<std::uint64_t>(power) != 0) power /= 2;
    if (divisor > 1) units.push_back(divisor);
    if (power > 1 && power != divisor) units.push_back(power);
    units.push_back(1);
    return units;
}

MakeResult MakePayload(ByteSpan old, ByteSpan neu, const MakeOptions& options,
                       const std::string& newName) {
    MakeResult result;
    const BuildStatus input =
        CheckBuildInput(old.size(), neu.size(), options.unit == 0 ? 1 : options.unit);
    if (input != BuildStatus::Ok) {
        result.status = StatusOf(input);
        result.message = InputMessage(input, options.unit, neu.size(), newName);
        return result;
    }
    std::vector<std::uint32_t> units;
    if (options.unit > 0) {
        units.push_back(static_cast<std::uint32_t>(options.unit));
    } else {
        for (std::uint32_t u = 1; u <= kMaxChosenUnit; ++u) {
            if (neu.size() % u == 0 && (u == 1 || !neu.empty())) units.push_back(u);
        }
    }

    // Plan every unit size over one table of matches, then make payloads of
    // the most promising plans, best estimate first.
    const ParseCosts& costs = options.plain ? kPlainCosts : kPackedCosts;
    std::vector<Candidate> candidates;
    {
        const MatchTable matches = MatchTable::Find(old, neu);
        for (std::uint32_t u : units)
            candidates.push_back({u, PlanRuns(matches, neu.size(), u, costs)});
    }
    std::vector<std::size_t> order(candidates.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return candidates[a].plan.cost < candidates[b].plan.cost;
    });
    for (const Candidate& c : candidates) {
        result.trials.push_back({c.unit, static_cast<double>(c.plan.cost) / 256.0, 0});
    }

    const bool plainStorable = options.plain && options.adjustRunCount;
    const std::size_t most = options.plain ? 1 : kMostMade;
    const double bound = static_cast<double>(candidates[order[0]].plan.cost) * kMakeMargin;
    Made kept;
    for (std::size_t rank = 0; rank < std::min(most, order.size()); ++rank) {
        Candidate& c = candidates[order[rank]];
        if (rank > 0 && static_cast<double>(c.plan.cost) > bound) break;
        Made made;
        std::vector<std::uint8_t> script =
            WriteScript(c.plan, neu, c.unit, plainStorable, &made.report);
        made.scriptBytes = script.size();
        const std::array<std::size_t, kScriptParts> ends = PartEnds(made.report);
        if (options.plain) {
            if (PlainScriptLooksLikeHf(script)) {
                result.status = MakeStatus::PlainLooksLikeHf;
                result.message =
                    "the script has " + std::to_string(made.report.runCount) +
                    " runs; the low 16 bits of that count are 0x4648 (\"HF\"), so stored plain "
                    "it would be read as an HF container. Drop --plain to store it packed, or "
                    "let the builder split one run to change the count.";
                return result;
            }
            std::size_t begin = 0;
            for (std::size_t end : ends) {
                made.account.parts.push_back({end - begin, 0, 0});
                begin = end;
            }
            made.payload = std::move(script);
        } else {
            made.payload = PackPayload(script, {}, ends, &made.account);
            if (made.payload.empty()) {
                result.status = MakeStatus::PackFailed;
                result.message = "the script (" + std::to_string(script.size()) +
                                 " bytes) is too long for the HF container; store it with --plain";
                return result;
            }
        }
        c.plan = Plan{};  // its runs are in the script now
        result.trials[order[rank]].payloadBytes = made.payload.size();
        if (kept.payload.empty() || made.payload.size() < kept.payload.size()) {
            kept = std::move(made);
        }
    }

    result.report = kept.report;
    result.scriptBytes = kept.scriptBytes;
    result.account = std::move(kept.account);
    if (result.report.runCountAdjusted) {
        result.message = "note: split one run (run count now " +
                         std::to_string(result.report.runCount) +
                         ") so that the plain script is not read as an HF container";
    }
    std::string problem = CheckScript(old, neu, kept.payload);
    if (problem.empty()) problem = ReadBack(old, neu, kept.payload);
    if (!problem.empty()) {
        result.status = MakeStatus::SelfCheckFailed;
        result.message = "internal error: " + problem + "; nothing written";
        return result;
    }
    result.payload = std::move(kept.payload);
    return result;
}

}  // namespace morivane

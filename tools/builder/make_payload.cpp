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
// Plans whose estimate is within this factor of their model's best are made
// into payloads too, at most kMostMade in all: the estimate does not see how
// well LZSS and the Huffman stage take to a script.
constexpr double kMakeMargin = 1.05;
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

// The plans to make into payloads, in order: the best of each model by its own
// estimate, then, of the plans within kMakeMargin of their model's best, those
// of the largest units. The models favour small units more than the packed
// sizes do, most where the pool compresses: small units cut the pool into
// pieces that compress less well than the estimate assumes.
std::vector<std::size_t> ChoosePlans(const std::vector<UnitTrial>& trials) {
    std::vector<std::size_t> chosen;
    double best[2] = {0, 0};
    for (int model = 0; model < 2; ++model) {
        std::size_t pick = trials.size();
        for (std::size_t t = 0; t < trials.size(); ++t) {
            if (trials[t].poolCompresses != (model == 1)) continue;
            if (pick == trials.size() || trials[t].estimatedBytes < trials[pick].estimatedBytes) {
                pick = t;
            }
        }
        if (pick == trials.size()) continue;
        best[model] = trials[pick].estimatedBytes;
        chosen.push_back(pick);
    }
    std::vector<std::size_t> near;
    for (std::size_t t = 0; t < trials.size(); ++t) {
        if (std::find(chosen.begin(), chosen.end(), t) == chosen.end() &&
            trials[t].estimatedBytes <= best[trials[t].poolCompresses] * kMakeMargin) {
            near.push_back(t);
        }
    }
    std::stable_sort(near.begin(), near.end(),
                     [&](std::size_t a, std::size_t b) { return trials[a].unit > trials[b].unit; });
    for (std::size_t t : near) {
        if (chosen.size() >= kMostMade) break;
        chosen.push_back(t);
    }
    return chosen;
}

// The account of a script stored plain: its parts, nothing else.
PayloadAccount PlainAccount(const std::array<std::size_t, kScriptParts>& ends) {
    PayloadAccount account;
    std::size_t begin = 0;
    for (std::size_t end : ends) {
        account.parts.push_back({end - begin, 0, 0});
        begin = end;
    }
    return account;
}

// A made payload and its script's figures.
struct Made {
    std::vector<std::uint8_t> payload;
    bool plain = false;
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

    // Plan every unit size under each model over one table of matches, then
    // make payloads of the most promising plans.
    const bool plain = options.form == StoredForm::Plain;
    // Only the estimates are kept at first: planning the few chosen again
    // costs less time than holding every plan costs memory.
    std::vector<Plan> plans;
    std::vector<std::size_t> chosen;
    {
        const MatchTable matches = MatchTable::Find(old, neu, {.units = units});
        // (After the matches: the old file's index is gone by now.)
        std::vector<std::uint8_t> poolCosts;
        if (!plain) poolCosts = EstimateLiteralCosts(neu);
        auto costsOf = [&](bool poolCompresses) {
            ParseCosts costs = plain ? kPlainCosts : kPackedCosts;
            if (poolCompresses) costs.literalBytes = poolCosts;
            return costs;
        };
        for (int model = 0; model < (plain ? 1 : 2); ++model) {
            for (std::uint32_t u : units) {
                const Plan plan = PlanRuns(matches, neu.size(), u, costsOf(model == 1));
                result.trials.push_back(
                    {u, model == 1, static_cast<double>(plan.cost) / 256.0, 0, false});
            }
        }
        chosen = ChoosePlans(result.trials);
        plans.resize(result.trials.size());
        for (std::size_t t : chosen) {
            plans[t] = PlanRuns(matches, neu.size(), result.trials[t].unit,
                                costsOf(result.trials[t].poolCompresses));
        }
    }

    const bool plainStorable = plain && options.adjustRunCount;
    Made kept;
    std::size_t keptTrial = 0;
    for (std::size_t t : chosen) {
        const std::uint32_t unit = result.trials[t].unit;
        Made made;
        std::vector<std::uint8_t> script =
            WriteScript(plans[t], neu, unit, plainStorable, &made.report);
        plans[t] = Plan{};  // its runs are in the script now
        made.scriptBytes = script.size();
        const std::array<std::size_t, kScriptParts> ends = PartEnds(made.report);
        if (plain) {
            if (IsHfContainer(script)) {
                result.status = MakeStatus::PlainLooksLikeHf;
                result.message =
                    "the script has " + std::to_string(made.report.runCount) +
                    " runs; the low 16 bits of that count are 0x4648 (\"HF\"), so stored plain "
                    "it would be read as an HF container. Drop --plain to store it packed, or "
                    "let the builder split one run to change the count.";
                return result;
            }
            made.account = PlainAccount(ends);
            made.plain = true;
            made.payload = std::move(script);
        } else {
            made.payload = PackPayload(script, {}, ends, &made.account);
            if (made.payload.empty()) {
                result.status = MakeStatus::PackFailed;
                result.message = "the script (" + std::to_string(script.size()) +
                                 " bytes) is too long for the HF container; store it with --plain";
                return result;
            }
            // Content that does not compress comes out larger packed; stored
            // plain it is the script's size, if the patcher will take it so.
            if (options.form == StoredForm::Smaller && script.size() < made.payload.size() &&
                !IsHfContainer(script)) {
                made.account = PlainAccount(ends);
                made.plain = true;
                made.payload = std::move(script);
            }
        }
        result.trials[t].payloadBytes = made.payload.size();
        if (kept.payload.empty() || made.payload.size() < kept.payload.size()) {
            kept = std::move(made);
            keptTrial = t;
        }
    }
    result.trials[keptTrial].kept = true;

    result.plain = kept.plain;
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

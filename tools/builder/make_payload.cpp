#include "tools/builder/make_payload.h"

#include <cstring>

#include "decode/hf.h"
#include "patch/sabunn_script.h"
#include "tools/encode/payload.h"

namespace morivane {

namespace {

// Rebuilds the new file from `old` and `payload` the way the patcher does (old
// image zero-padded to whole units) and compares it with `neu`. Returns what is
// wrong, or an empty string.
std::string CheckPayload(ByteSpan old, ByteSpan neu, ByteSpan payload) {
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
    const auto unit = static_cast<std::size_t>(view.Header().unitSize);
    if (summary.oldBytesNeeded > old.size()) return "a copy run reaches past the old file";
    if (summary.newFileBytes != neu.size()) return "the script rebuilds a file of the wrong length";
    std::size_t at = 0, copy = 0, pool = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(view.Header().runCount); ++i) {
        const int r = view.Run(i);
        const std::size_t bytes = static_cast<std::size_t>(r > 0 ? r : -r) * unit;
        const std::uint8_t* from =
            r > 0 ? old.data() + view.Offset(copy++) : view.PoolBytes().data() + pool;
        if (r <= 0) pool += bytes;
        if (bytes != 0 && std::memcmp(from, neu.data() + at, bytes) != 0) {
            return "run " + std::to_string(i) + " does not rebuild the new file";
        }
        at += bytes;
    }
    return {};
}

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
    BuildOptions build;
    build.plainStorable = options.plain && options.adjustRunCount;
    std::vector<std::uint8_t> script = BuildScript(old, neu, options.unit, build, &result.report);

    switch (result.report.status) {
        case BuildStatus::Ok:
            break;
        case BuildStatus::BadUnit:
            result.status = MakeStatus::BadUnit;
            result.message = "the unit size must be at least 1 (the updater's payloads use 32)";
            return result;
        case BuildStatus::TooLarge:
            result.status = MakeStatus::TooLarge;
            result.message = "a file is larger than 2 GiB - 1 byte, more than the patcher holds";
            return result;
        case BuildStatus::NewNotWholeUnits: {
            result.status = MakeStatus::NewNotWholeUnits;
            std::string units;
            for (int u : SuggestUnits(neu.size())) {
                units += (units.empty() ? "--unit " : " or --unit ") + std::to_string(u);
            }
            result.message = newName + " is " + std::to_string(neu.size()) +
                             " bytes long, not a multiple of the unit size " +
                             std::to_string(options.unit) +
                             "; the new file must consist of whole units. Use a unit size that "
                             "divides its length (" +
                             units + "), or pad " + newName + " to a multiple of " +
                             std::to_string(options.unit) + " bytes.";
            return result;
        }
    }
    result.scriptBytes = script.size();

    if (options.plain) {
        if (PlainScriptLooksLikeHf(script)) {
            result.status = MakeStatus::PlainLooksLikeHf;
            result.message =
                "the script has " + std::to_string(result.report.runCount) +
                " runs; the low 16 bits of that count are 0x4648 (\"HF\"), so stored plain it "
                "would be read as an HF container. Drop --plain to store it packed, or let the "
                "builder split one run to change the count.";
            return result;
        }
        if (result.report.runCountAdjusted) {
            result.message = "note: split one run (run count now " +
                             std::to_string(result.report.runCount) +
                             ") so that the plain script is not read as an HF container";
        }
        result.payload = std::move(script);
    } else {
        result.payload = PackPayload(script);
        if (result.payload.empty()) {
            result.status = MakeStatus::PackFailed;
            result.message = "the script (" + std::to_string(script.size()) +
                             " bytes) is too long for the HF container; store it with --plain";
            return result;
        }
    }

    if (std::string problem = CheckPayload(old, neu, result.payload); !problem.empty()) {
        result.status = MakeStatus::SelfCheckFailed;
        result.message = "internal error: " + problem + "; nothing written";
        result.payload.clear();
    }
    return result;
}

}  // namespace morivane

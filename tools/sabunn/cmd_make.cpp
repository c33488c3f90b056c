// sabunn make: the payload that rebuilds NEW from OLD.
#include <cstdio>
#include <memory>

#include "patch/payload_sums.h"
#include "tools/builder/make_payload.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"

namespace morivane::sabunn {

namespace {

struct MakeCommandOptions {
    std::string oldPath;
    std::string newPath;
    std::string payload;
    std::string manifest;  // empty: beside the payload
    bool plain = false;
    bool packed = false;
    int unit = 0;
    bool breakdown = false;
};

// The unit sizes weighed and where the kept payload's bytes go.
void PrintBreakdown(const MakeResult& result, bool plain) {
    std::printf("plans              pool priced    estimate    payload\n");
    for (const UnitTrial& t : result.trials) {
        std::printf("  U = %-8u %16s %11.0f", t.unit, t.poolCompresses ? "as LZSS of NEW" : "flat",
                    t.estimatedBytes);
        if (t.payloadBytes > 0) {
            std::printf(" %10zu%s\n", t.payloadBytes, t.kept ? "  kept" : "");
        } else {
            std::printf("          -\n");
        }
    }
    static const char* const kNames[kScriptParts] = {"header", "run list", "offset list",
                                                     "literal pool"};
    const PayloadAccount& a = result.account;
    std::printf("bytes by part      script   LZSS stream  HF container\n");
    for (std::size_t p = 0; p < a.parts.size() && p < kScriptParts; ++p) {
        std::printf("  %-12s %10llu", kNames[p],
                    static_cast<unsigned long long>(a.parts[p].scriptBytes));
        if (plain) {
            std::printf("\n");
        } else {
            std::printf("  %12.1f  %12.1f\n", a.parts[p].streamBytes, a.parts[p].containerBytes);
        }
    }
    if (plain) {
        std::printf("  %-12s %10zu\n", "total", result.scriptBytes);
        return;
    }
    std::printf("  %-12s %10s  %12.1f  %12.1f\n", "other", "-", a.otherStreamBytes,
                a.otherContainerBytes);
    std::printf("  %-12s %10zu  %12llu  %12llu\n", "total", result.scriptBytes,
                static_cast<unsigned long long>(a.streamBytes),
                static_cast<unsigned long long>(a.containerBytes));
    std::printf("HF blocks       %zu (%zu coded)\n", a.blocks, a.codedBlocks);
}

int RunMake(const MakeCommandOptions& options) {
    Inputs inputs;
    std::string error;
    const auto old = inputs.Read(options.oldPath, &error);
    if (!old) {
        ReportError(error);
        return kExitFailure;
    }
    const auto neu = inputs.Read(options.newPath, &error);
    if (!neu) {
        ReportError(error);
        return kExitFailure;
    }

    // Both outputs are claimed before the (long) build, so that a refusal
    // comes at once and nothing is written unless both can be.
    const std::string manifest =
        options.manifest.empty() ? SumsPathBeside(options.payload) : options.manifest;
    const std::unique_ptr<PendingFile> payload =
        PendingFile::Create(options.payload, inputs, &error);
    const std::unique_ptr<PendingFile> sums =
        payload ? PendingFile::Create(manifest, inputs, &error) : nullptr;
    if (!sums) {
        ReportError(error);
        return kExitFailure;
    }
    if (sums->SameTarget(*payload)) {
        ReportError("--manifest '" + manifest + "' names the payload '" + options.payload +
                    "' itself: the sums would take the payload's place");
        return kExitFailure;
    }

    MakeOptions make;
    make.unit = options.unit;
    make.form = options.plain    ? StoredForm::Plain
                : options.packed ? StoredForm::Packed
                                 : StoredForm::Smaller;
    const MakeResult result = MakePayload(*old, *neu, make, "'" + options.newPath + "'");
    if (result.status != MakeStatus::Ok) {
        ReportError(result.message);
        return kExitFailure;
    }
    if (!result.message.empty()) std::fprintf(stderr, "sabunn: %s\n", result.message.c_str());

    // The sums let the updater check the installed file before it starts and
    // each rebuilt file before it replaces anything.
    const std::optional<FileSum> oldSum = SumOf(*old);
    const std::optional<FileSum> newSum = SumOf(*neu);
    if (!oldSum || !newSum) {
        ReportError("cannot sum the files");
        return kExitFailure;
    }
    if (!payload->Write(result.payload, &error) ||
        !sums->Write(EncodePayloadSums({*oldSum, *newSum}), &error) || !payload->Commit(&error) ||
        !sums->Commit(&error)) {
        ReportError(error);
        return kExitFailure;
    }
    const BuildReport& r = result.report;
    std::printf(
        "%s: %zu bytes, %s; script %zu bytes: %u units of %u bytes, %u runs, %u copy runs, "
        "%u literal units\n",
        options.payload.c_str(), result.payload.size(), result.plain ? "plain" : "HF container",
        result.scriptBytes, r.newUnits, r.unitSize, r.runCount, r.copyCount, r.literalUnits);
    if (options.breakdown) PrintBreakdown(result, result.plain);
    return kExitOk;
}

}  // namespace

void AddMakeCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<MakeCommandOptions>();
    CLI::App* make = app.add_subcommand(
        "make",
        "Build the payload that rebuilds NEW from OLD: a SABUNN script, stored packed unless "
        "that is larger, with the sums of OLD and NEW beside it");
    make->add_option("OLD", options->oldPath, "The file as installed")->required();
    make->add_option("NEW", options->newPath, "The file the update should produce")->required();
    make->add_option("-o,--output", options->payload, "The payload file to write")->required();
    // Without either, the script is packed unless it comes out smaller as it is.
    CLI::Option* plain = make->add_flag("--plain", options->plain, "Store the script uncompressed");
    make->add_flag("--packed", options->packed,
                   "Store the script packed (HF container) even when that is larger")
        ->excludes(plain);
    make->add_option("--manifest", options->manifest,
                     "Where to write the sums of OLD and NEW (default: the payload's path with "
                     "the extension .sum, as the Win32 build and `sabunn update` look for them)");
    make->add_option("--unit", options->unit,
                     "Bytes per unit; NEW's length must be a multiple. Without it, the unit "
                     "size (1 to 32, dividing NEW's length) that gives the smallest payload")
        ->check(CLI::PositiveNumber);
    make->add_flag("--breakdown", options->breakdown,
                   "Also print the unit sizes weighed and where the payload's bytes go");
    make->callback([options, exitCode] { *exitCode = RunMake(*options); });
}

}  // namespace morivane::sabunn

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
    int unit = kDefaultUnit;
};

int RunMake(const MakeCommandOptions& options) {
    std::string error;
    const auto old = ReadWholeFile(options.oldPath, &error);
    if (!old) {
        ReportError(error);
        return kExitFailure;
    }
    const auto neu = ReadWholeFile(options.newPath, &error);
    if (!neu) {
        ReportError(error);
        return kExitFailure;
    }

    MakeOptions make;
    make.unit = options.unit;
    make.plain = options.plain;
    const MakeResult result = MakePayload(*old, *neu, make, "'" + options.newPath + "'");
    if (result.status != MakeStatus::Ok) {
        ReportError(result.message);
        return kExitFailure;
    }
    if (!result.message.empty()) std::fprintf(stderr, "sabunn: %s\n", result.message.c_str());

    if (!WriteFileAtomically(options.payload, result.payload, &error)) {
        ReportError(error);
        return kExitFailure;
    }
    // The sums let the updater check the installed file before it starts and
    // each rebuilt file before it replaces anything.
    const std::optional<FileSum> oldSum = SumOf(*old);
    const std::optional<FileSum> newSum = SumOf(*neu);
    const std::string manifest =
        options.manifest.empty() ? SumsPathBeside(options.payload) : options.manifest;
    if (!oldSum || !newSum ||
        !WriteFileAtomically(manifest, EncodePayloadSums({*oldSum, *newSum}), &error)) {
        ReportError(error.empty() ? "cannot sum the files" : error);
        return kExitFailure;
    }
    const BuildReport& r = result.report;
    std::printf(
        "%s: %zu bytes, %s; script %zu bytes: %u units of %u bytes, %u runs, %u copy runs, "
        "%u literal units\n",
        options.payload.c_str(), result.payload.size(), options.plain ? "plain" : "HF container",
        result.scriptBytes, r.newUnits, r.unitSize, r.runCount, r.copyCount, r.literalUnits);
    return kExitOk;
}

}  // namespace

void AddMakeCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<MakeCommandOptions>();
    CLI::App* make = app.add_subcommand(
        "make", "Build the payload that rebuilds NEW from OLD (a SABUNN script, packed)");
    make->add_option("OLD", options->oldPath, "The file as installed")->required();
    make->add_option("NEW", options->newPath, "The file the update should produce")->required();
    make->add_option("-o,--output", options->payload, "The payload file to write")->required();
    make->add_flag("--plain", options->plain, "Store the script uncompressed");
    make->add_option("--manifest", options->manifest,
                     "Where to write the sums of OLD and NEW (default: the payload's path with "
                     "the extension .sum, as the Win32 build and `sabunn update` look for them)");
    make->add_option("--unit", options->unit, "Bytes per unit; NEW's length must be a multiple")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    make->callback([options, exitCode] { *exitCode = RunMake(*options); });
}

}  // namespace morivane::sabunn

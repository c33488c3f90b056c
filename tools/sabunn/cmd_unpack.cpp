// sabunn unpack: a payload back into its script.
#include <memory>

#include "patch/payload.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"

namespace morivane::sabunn {

namespace {

struct UnpackOptions {
    std::string payload;
    std::string script;
};

int RunUnpack(const UnpackOptions& options) {
    Inputs inputs;
    std::string error;
    const auto payload = inputs.Read(options.payload, &error);
    if (!payload) {
        ReportError(error);
        return kExitFailure;
    }
    const PayloadScript script = ScriptOfPayload(*payload);
    if (!script) {
        ReportError("'" + options.payload + "' is a damaged payload: " + script.Failure());
        return kExitFailure;
    }
    if (!WriteFileAtomically(options.script, script.script, inputs, &error)) {
        ReportError(error);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

void AddUnpackCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<UnpackOptions>();
    CLI::App* unpack = app.add_subcommand(
        "unpack", "Turn a payload back into its script (a plain payload is copied unchanged)");
    unpack->add_option("PAYLOAD", options->payload, "The payload to unpack")->required();
    unpack->add_option("-o,--output", options->script, "The script file to write")->required();
    unpack->callback([options, exitCode] { *exitCode = RunUnpack(*options); });
}

}  // namespace morivane::sabunn

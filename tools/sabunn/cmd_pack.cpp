// sabunn pack: a script into its payload.
#include <algorithm>
#include <memory>

#include "decode/hf.h"
#include "patch/payload.h"
#include "tools/encode/lzss_encode.h"
#include "tools/encode/payload.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"

namespace morivane::sabunn {

namespace {

struct PackOptions {
    std::string script;
    std::string payload;
    bool plain = false;
};

int RunPack(const PackOptions& options) {
    Inputs inputs;
    std::string error;
    const auto script = inputs.Read(options.script, &error);
    if (!script) {
        ReportError(error);
        return kExitFailure;
    }

    std::vector<std::uint8_t> payload;
    if (options.plain) {
        // A plain payload is told from a container only by the bytes at
        // offset 8, so a script holding "HF" there would be misread.
        if (IsHfContainer(*script)) {
            ReportError("'" + options.script +
                        "' cannot be stored plain: its bytes 8 and 9 are \"HF\" and it would be "
                        "read as a container; pack it without --plain");
            return kExitFailure;
        }
        payload = *script;
    } else {
        if (script->size() > kLzssMaxContent) {
            ReportError("'" + options.script + "' is too large to pack");
            return kExitFailure;
        }
        payload = PackPayload(*script);
        // What ships must unpack to exactly the script; check before writing.
        const PayloadScript check = ScriptOfPayload(payload);
        if (!check ||
            !std::equal(check.script.begin(), check.script.end(), script->begin(), script->end())) {
            ReportError("internal error: the packed payload does not unpack to '" + options.script +
                        "'" + (check ? "" : " (" + check.Failure() + ")"));
            return kExitFailure;
        }
    }

    if (!WriteFileAtomically(options.payload, payload, inputs, &error)) {
        ReportError(error);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

void AddPackCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<PackOptions>();
    CLI::App* pack = app.add_subcommand(
        "pack", "Compress a SABUNN script into a payload (HF container over an LZSS stream)");
    pack->add_option("SCRIPT", options->script, "The script to pack")->required();
    pack->add_option("-o,--output", options->payload, "The payload file to write")->required();
    pack->add_flag("--plain", options->plain, "Store the script uncompressed");
    pack->callback([options, exitCode] { *exitCode = RunPack(*options); });
}

}  // namespace morivane::sabunn

// sabunn extract: the "SABUNN" payloads that a Win32 module carries, one file
// each, as the updater would find them.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

#include "decode/hf.h"
#include "patch/payload_sums.h"
#include "pe/pe_module.h"
#include "seams/payload_store.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"

namespace morivane::sabunn {

namespace {

struct ExtractOptions {
    std::string module;
    std::string directory;
};

std::string Hex4(std::uint16_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
    return s;
}

int RunExtract(const ExtractOptions& options) {
    std::string error;
    const auto file = ReadWholeFile(options.module, &error);
    if (!file) {
        ReportError(error);
        return kExitFailure;
    }
    PeStatus status = PeStatus::Ok;
    const std::optional<PeModule> module = PeModule::Parse(*file, &status);
    if (!module) {
        ReportError("'" + options.module +
                    "' is not a readable Win32 module: " + PeStatusName(status));
        return kExitFailure;
    }

    // The updater looks a payload up by integer id and takes the first
    // language stored for it; do the same, and say what it would never see.
    const ResourceId type = ResourceId::Named(kPayloadResourceType);
    std::vector<const Resource*> payloads;
    std::set<std::uint16_t> ids;
    for (const Resource& r : module->Resources()) {
        if (!type.Matches(r.type)) continue;
        if (r.name.isName) {
            ReportError("warning: skipping the payload named '" + r.name.ToString() +
                        "': payloads are looked up by integer id");
            continue;
        }
        if (!ids.insert(r.name.id).second) {
            ReportError("warning: payload " + std::to_string(r.name.id) +
                        " is stored again in language " + Hex4(r.language) +
                        "; only the first language is extracted");
            continue;
        }
        payloads.push_back(&r);
    }
    if (payloads.empty()) {
        ReportError("'" + options.module + "' carries no " + kPayloadResourceType + " payloads");
        return kExitFailure;
    }

    std::error_code ec;
    std::filesystem::create_directories(options.directory, ec);
    if (ec) {
        ReportError("cannot create '" + options.directory + "': " + ec.message());
        return kExitFailure;
    }
    for (const Resource* r : payloads) {
        const std::string id = std::to_string(r->name.id);
        const std::string path =
            (std::filesystem::path(options.directory) / (id + ".sabunn")).string();
        if (!WriteFileAtomically(path, r->data, &error)) {
            ReportError(error);
            return kExitFailure;
        }
        std::printf("%s %s %zu\n", id.c_str(), IsHfContainer(r->data) ? "HF" : "plain",
                    r->data.size());
        // The sums beside the payload, when the module carries them, go
        // beside the extracted payload as `sabunn make` writes them.
        const Resource* sums = module->Find(ResourceId::Named(kPayloadSumsResourceType),
                                            ResourceId::Number(r->name.id));
        if (sums == nullptr) continue;
        if (!ParsePayloadSums(sums->data)) {
            ReportError("warning: the sums of payload " + id + " are damaged; not written");
            continue;
        }
        if (!WriteFileAtomically(SumsPathBeside(path), sums->data, &error)) {
            ReportError(error);
            return kExitFailure;
        }
    }
    return kExitOk;
}

}  // namespace

void AddExtractCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<ExtractOptions>();
    CLI::App* extract = app.add_subcommand(
        "extract",
        "Write each SABUNN payload of a Win32 module to DIR/<id>.sabunn, with its sums to "
        "DIR/<id>.sum where the module carries them, and list the payloads "
        "(id, stored form HF or plain, size in bytes)");
    extract->add_option("MODULE", options->module, "The .exe or .dll that carries the payloads")
        ->required();
    extract->add_option("-d,--directory", options->directory, "Where to write the payloads")
        ->required();
    extract->callback([options, exitCode] { *exitCode = RunExtract(*options); });
}

}  // namespace morivane::sabunn

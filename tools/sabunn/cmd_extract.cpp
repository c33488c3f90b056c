// sabunn extract: the "SABUNN" payloads that a Win32 module carries, one file
// each, as the updater would find them.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string_view>
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

// `value` in `digits` upper-case hexadecimal digits.
std::string Hex(std::uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) s += kDigits[(value >> shift) & 0xF];
    return s;
}

// `text` (UTF-8, from the module) made safe to print on a terminal: control
// characters (C0, DEL, C1), the invisible marks that reorder or hide text
// (bidirectional controls, zero-width characters, line and paragraph
// separators) and bytes that are not UTF-8 are written as \xNN or \uNNNN,
// and a backslash as \\, so that no name from a module can move the cursor,
// recolour the terminal or pass for another name.
std::string Printable(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        // The length and first bits of a UTF-8 sequence; 0 for a byte that
        // cannot begin one.
        const std::size_t length = lead < 0x80                    ? 1
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        std::uint32_t cp = length == 1   ? lead
                           : length == 2 ? lead & 0x1F
                           : length == 3 ? lead & 0x0F
                                         : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
        valid = valid && !(length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
                !(length == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (!valid) {
            out += "\\x" + Hex(lead, 2);
            ++i;
            continue;
        }
        const bool hidden = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD ||
                            (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
                            (cp >= 0x2060 && cp <= 0x2069) || cp == 0xFEFF;
        if (cp < 0x80 && hidden) {
            out += "\\x" + Hex(cp, 2);
        } else if (hidden) {
            out += "\\u" + Hex(cp, 4);
        } else if (cp == '\\') {
            out += "\\\\";
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

int RunExtract(const ExtractOptions& options) {
    Inputs inputs;
    std::string error;
    const auto file = inputs.Read(options.module, &error);
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
            ReportError("warning: skipping the payload named '" + Printable(r.name.ToString()) +
                        "': payloads are looked up by integer id");
            continue;
        }
        if (!ids.insert(r.name.id).second) {
            ReportError("warning: payload " + std::to_string(r.name.id) +
                        " is stored again in language " + "0x" + Hex(r.language, 4) +
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
        if (!WriteFileAtomically(path, r->data, inputs, &error)) {
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
        if (!WriteFileAtomically(SumsPathBeside(path), sums->data, inputs, &error)) {
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

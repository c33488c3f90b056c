// sabunn info: what a payload holds — its stored form, the HF container's
// blocks, the script's header, and what the script needs and produces.
#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "patch/payload.h"
#include "patch/payload_sums.h"
#include "patch/sabunn_script.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"
#include "tools/sabunn/hf_describe.h"

namespace morivane::sabunn {

namespace {

struct InfoOptions {
    std::string payload;
    std::string manifest;  // empty: beside the payload
    bool json = false;
};

// Everything the command reports; absent parts were not reached.
struct Report {
    std::string path;
    std::uint64_t payloadBytes = 0;
    bool container = false;
    HfDescription hf;
    std::optional<std::uint64_t> scriptBytes;  // once the script is at hand
    std::string decodeError;
    std::optional<ScriptView> script;  // once it parsed
    ScriptError scriptError = ScriptError::Ok;
    ScriptFault scriptFault;  // where the script goes wrong, when it does
    std::string sumsPath;
    bool sumsFound = false;           // a file is there
    std::optional<PayloadSums> sums;  // and holds sums
};

std::string U(std::uint64_t v) {
    return std::to_string(v);
}

void PrintText(const Report& r) {
    std::printf("payload               %s, %s bytes\n", r.path.c_str(), U(r.payloadBytes).c_str());
    if (!r.container) {
        std::printf("stored form           plain script\n");
    } else {
        const HfDescription& d = r.hf;
        std::printf("stored form           HF container\n");
        std::printf("  container size      %s bytes (header says %s)\n", U(r.payloadBytes).c_str(),
                    U(d.declaredSize).c_str());
        std::printf("  unpacked size       %s bytes (the LZSS stream)\n",
                    U(d.unpackedSize).c_str());
        std::printf("  blocks              %zu, ending at byte %s\n", d.blocks.size(),
                    U(d.bytesUsed).c_str());
        for (std::size_t i = 0; i < d.blocks.size(); ++i) {
            const HfBlockInfo& b = d.blocks[i];
            if (b.coded) {
                std::printf(
                    "  block %zu at %s: coded, B = %s bits, N = %s bytes, code table %s bytes "
                    "(S = %s bits, %d values of %d..%d bits), coded data %s bytes\n",
                    i, U(b.offset).c_str(), U(b.bits).c_str(), U(b.produced).c_str(),
                    U(b.tableBytes).c_str(), U(b.codeBits).c_str(), b.symbols, b.shortestCode,
                    b.longestCode, U(b.dataBytes).c_str());
            } else {
                std::printf("  block %zu at %s: stored, B = 0, N = %s bytes\n", i,
                            U(b.offset).c_str(), U(b.produced).c_str());
            }
        }
        if (d.problem != nullptr) std::printf("  problem             %s\n", d.problem);
    }
    if (!r.decodeError.empty()) {
        std::printf("script                cannot be had: %s\n", r.decodeError.c_str());
        return;
    }
    std::printf("script                %s bytes\n", U(r.scriptBytes.value_or(0)).c_str());
    if (!r.script) {
        std::printf("  damaged             %s\n", ScriptErrorName(r.scriptError));
        return;
    }
    const ScriptHeader& h = r.script->Header();
    const ScriptSummary& s = r.script->Summary();
    std::printf("  new units           %" PRIu32 "\n", h.newUnitCount);
    std::printf("  unit size U         %" PRId32 "\n", h.unitSize);
    std::printf("  runs R              %" PRId32 " (%s copy, %s literal, %s empty)\n", h.runCount,
                U(s.copyRuns).c_str(), U(s.literalRuns).c_str(), U(s.zeroRuns).c_str());
    std::printf("  copies K            %" PRIu32 "\n", h.copyCount);
    std::printf("  literals L          %" PRIu32 "\n", h.literalCount);
    if (!s.IsConsistent(h)) {
        std::printf(
            "  note                header counts differ from the lists (%s units, %s "
            "copy runs, %s literal units)\n",
            U(s.newUnits).c_str(), U(s.copyRuns).c_str(), U(s.literalUnits).c_str());
    }
    if (*r.scriptBytes > s.scriptBytes) {
        std::printf("  trailing bytes      %s (ignored)\n",
                    U(*r.scriptBytes - s.scriptBytes).c_str());
    }
    std::printf("new file size         %s bytes\n", U(s.newFileBytes).c_str());
    std::printf("old file size needed  %s bytes\n", U(s.oldBytesNeeded).c_str());
    std::printf("longest copy run      %" PRId32 " units\n", s.longestCopyRun);
    std::printf("longest literal run   %" PRId32 " units\n", s.longestLiteralRun);
    if (!r.sumsFound) {
        std::printf("sums                  none (%s): the files are not checked\n",
                    r.sumsPath.c_str());
    } else if (!r.sums) {
        std::printf("sums                  damaged (%s)\n", r.sumsPath.c_str());
    } else {
        std::printf("sums                  %s\n", r.sumsPath.c_str());
        std::printf("  old file            %s\n", DescribeSum(r.sums->oldFile).c_str());
        std::printf("  new file            %s\n", DescribeSum(r.sums->newFile).c_str());
    }
}

// JSON output keeps its keys in the order written.
using Json = nlohmann::ordered_json;

// JSON is UTF-8 text; a path need not be (a file name in code page 932, say).
// The output is always valid JSON: the dump writes U+FFFD for bytes that are
// not UTF-8, and the report then carries the path's exact bytes as hex.
std::string Dump(const Json& value, Json::error_handler_t handler) {
    return value.dump(2, ' ', false, handler);
}

bool IsUtf8(const std::string& text) {
    const Json value = text;
    return Dump(value, Json::error_handler_t::replace) ==
           Dump(value, Json::error_handler_t::ignore);
}

Json Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0xF];
    }
    return hex;
}

Json BlockJson(const HfBlockInfo& b) {
    Json block = {{"offset", b.offset},
                  {"kind", b.coded ? "coded" : "stored"},
                  {"B", b.bits},
                  {"N", b.produced},
                  {"block_bytes", b.blockBytes}};
    if (b.coded) {
        block["code_bits"] = b.codeBits;
        block["code_table_bytes"] = b.tableBytes;
        block["coded_data_bytes"] = b.dataBytes;
        block["symbols"] = b.symbols;
        block["shortest_code"] = b.shortestCode;
        block["longest_code"] = b.longestCode;
    }
    return block;
}

Json ReportJson(const Report& r) {
    Json o;
    o["payload"] = r.path;
    o["payload_hex"] = IsUtf8(r.path) ? Json(nullptr) : Hex(r.path);
    o["payload_bytes"] = r.payloadBytes;
    o["stored"] = r.container ? "hf" : "plain";
    if (r.container) {
        const HfDescription& d = r.hf;
        Json blocks = Json::array();
        for (const HfBlockInfo& b : d.blocks) blocks.push_back(BlockJson(b));
        o["container"] = {{"container_bytes", r.payloadBytes},
                          {"declared_bytes", d.declaredSize},
                          {"unpacked_bytes", d.unpackedSize},
                          {"end_of_blocks", d.bytesUsed},
                          {"problem", d.problem ? Json(d.problem) : Json(nullptr)},
                          {"blocks", std::move(blocks)}};
    }
    if (!r.decodeError.empty()) {
        o["error"] = r.decodeError;
        return o;
    }
    o["script_bytes"] = r.scriptBytes.value_or(0);
    if (!r.script) {
        o["error"] = ScriptErrorName(r.scriptError);
        return o;
    }
    const ScriptHeader& h = r.script->Header();
    const ScriptSummary& s = r.script->Summary();
    o["header"] = {{"new_units", h.newUnitCount},
                   {"unit_size", h.unitSize},
                   {"run_count", h.runCount},
                   {"copy_count", h.copyCount},
                   {"literal_count", h.literalCount}};
    o["copy_runs"] = s.copyRuns;
    o["literal_runs"] = s.literalRuns;
    o["empty_runs"] = s.zeroRuns;
    o["literal_units"] = s.literalUnits;
    o["consistent"] = s.IsConsistent(h);
    o["trailing_bytes"] = *r.scriptBytes - s.scriptBytes;
    o["new_file_bytes"] = s.newFileBytes;
    o["old_file_bytes_needed"] = s.oldBytesNeeded;
    o["longest_copy_run"] = s.longestCopyRun;
    o["longest_literal_run"] = s.longestLiteralRun;
    if (r.sums) {
        o["sums"] = {{"old_size", r.sums->oldFile.size},
                     {"old_crc32", r.sums->oldFile.crc},
                     {"new_size", r.sums->newFile.size},
                     {"new_crc32", r.sums->newFile.crc}};
    } else {
        o["sums"] = r.sumsFound ? Json("damaged") : Json(nullptr);
    }
    return o;
}

void PrintJson(const Report& r) {
    const std::string text = Dump(ReportJson(r), Json::error_handler_t::replace) + "\n";
    std::fputs(text.c_str(), stdout);
}

int RunInfo(const InfoOptions& options) {
    Inputs inputs;
    std::string error;
    const auto payload = inputs.Read(options.payload, &error);
    if (!payload) {
        ReportError(error);
        return kExitFailure;
    }
    Report r;
    r.path = options.payload;
    r.payloadBytes = payload->size();
    r.container = IsHfContainer(*payload);
    if (r.container) r.hf = HfDescribe(*payload);

    const PayloadScript script = ScriptOfPayload(*payload);
    if (!script) {
        r.decodeError = script.Failure();
    } else {
        r.scriptBytes = script.script.size();
        ScriptView view;
        r.scriptError = ScriptView::Parse(script.script, &view, &r.scriptFault);
        if (r.scriptError == ScriptError::Ok) r.script = view;
    }
    // Sums that are absent are reported as such; sums that are there but
    // cannot be read (not a regular file, the payload itself) fail the command.
    r.sumsPath = options.manifest.empty() ? SumsPathBeside(options.payload) : options.manifest;
    bool missing = false;
    if (const auto sums = inputs.ReadSums(r.sumsPath, &missing, &error)) {
        r.sumsFound = true;
        r.sums = ParsePayloadSums(*sums);
    } else if (!missing) {
        ReportError(error);
        return kExitFailure;
    }
    // The view points into `script`, which lives until the report is printed.
    options.json ? PrintJson(r) : PrintText(r);
    if (!r.decodeError.empty()) {
        ReportError("'" + options.payload + "' is a damaged payload: " + r.decodeError);
        return kExitFailure;
    }
    if (!r.script) {
        ReportError("'" + options.payload +
                    "' holds a damaged script: " + DescribeScriptFault(r.scriptFault));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

void AddInfoCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* info = app.add_subcommand(
        "info", "Describe a payload: stored form, HF blocks, script header and needs");
    info->add_option("PAYLOAD", options->payload, "The payload to describe")->required();
    info->add_option("--manifest", options->manifest,
                     "The sums of the payload's old and new file (default: beside the payload, "
                     "its path with the extension .sum)");
    info->add_flag("--json", options->json,
                   "Print the description as JSON (UTF-8). A PAYLOAD path that is not UTF-8 "
                   "(a name in code page 932, say) is written as \"payload\" with U+FFFD for "
                   "each byte that is not, and its exact bytes as hex in \"payload_hex\" "
                   "(null for a UTF-8 path)");
    info->callback([options, exitCode] { *exitCode = RunInfo(*options); });
}

}  // namespace morivane::sabunn

// sabunn info: what a payload holds — its stored form, the HF container's
// blocks, the script's header, and what the script needs and produces.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decode/hf.h"
#include "patch/hf_describe.h"
#include "patch/payload.h"
#include "patch/sabunn_script.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"

namespace morivane::sabunn {

namespace {

struct InfoOptions {
    std::string payload;
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
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

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
}

void PrintJson(const Report& r) {
    std::string o = "{\n";
    o += "  \"payload\": " + JsonString(r.path) + ",\n";
    o += "  \"payload_bytes\": " + U(r.payloadBytes) + ",\n";
    o += std::string("  \"stored\": \"") + (r.container ? "hf" : "plain") + "\",\n";
    if (r.container) {
        const HfDescription& d = r.hf;
        o += "  \"container\": {\n";
        o += "    \"container_bytes\": " + U(r.payloadBytes) + ",\n";
        o += "    \"declared_bytes\": " + U(d.declaredSize) + ",\n";
        o += "    \"unpacked_bytes\": " + U(d.unpackedSize) + ",\n";
        o += "    \"end_of_blocks\": " + U(d.bytesUsed) + ",\n";
        o +=
            "    \"problem\": " + (d.problem ? JsonString(d.problem) : std::string("null")) + ",\n";
        o += "    \"blocks\": [";
        for (std::size_t i = 0; i < d.blocks.size(); ++i) {
            const HfBlockInfo& b = d.blocks[i];
            o += i == 0 ? "\n" : ",\n";
            o += "      {\"offset\": " + U(b.offset) + ", \"kind\": \"" +
                 (b.coded ? "coded" : "stored") + "\", \"B\": " + U(b.bits) +
                 ", \"N\": " + U(b.produced) + ", \"block_bytes\": " + U(b.blockBytes);
            if (b.coded) {
                o += ", \"code_bits\": " + U(b.codeBits) +
                     ", \"code_table_bytes\": " + U(b.tableBytes) +
                     ", \"coded_data_bytes\": " + U(b.dataBytes) +
                     ", \"symbols\": " + std::to_string(b.symbols) +
                     ", \"shortest_code\": " + std::to_string(b.shortestCode) +
                     ", \"longest_code\": " + std::to_string(b.longestCode);
            }
            o += "}";
        }
        o += d.blocks.empty() ? "]\n" : "\n    ]\n";
        o += "  },\n";
    }
    if (!r.decodeError.empty()) {
        o += "  \"error\": " + JsonString(r.decodeError) + "\n}\n";
        std::fputs(o.c_str(), stdout);
        return;
    }
    o += "  \"script_bytes\": " + U(r.scriptBytes.value_or(0)) + ",\n";
    if (!r.script) {
        o += "  \"error\": " + JsonString(ScriptErrorName(r.scriptError)) + "\n}\n";
        std::fputs(o.c_str(), stdout);
        return;
    }
    const ScriptHeader& h = r.script->Header();
    const ScriptSummary& s = r.script->Summary();
    o += "  \"header\": {\"new_units\": " + U(h.newUnitCount) +
         ", \"unit_size\": " + std::to_string(h.unitSize) +
         ", \"run_count\": " + std::to_string(h.runCount) + ", \"copy_count\": " + U(h.copyCount) +
         ", \"literal_count\": " + U(h.literalCount) + "},\n";
    o += "  \"copy_runs\": " + U(s.copyRuns) + ",\n";
    o += "  \"literal_runs\": " + U(s.literalRuns) + ",\n";
    o += "  \"empty_runs\": " + U(s.zeroRuns) + ",\n";
    o += "  \"literal_units\": " + U(s.literalUnits) + ",\n";
    o += std::string("  \"consistent\": ") + (s.IsConsistent(h) ? "true" : "false") + ",\n";
    o += "  \"trailing_bytes\": " + U(*r.scriptBytes - s.scriptBytes) + ",\n";
    o += "  \"new_file_bytes\": " + U(s.newFileBytes) + ",\n";
    o += "  \"old_file_bytes_needed\": " + U(s.oldBytesNeeded) + ",\n";
    o += "  \"longest_copy_run\": " + std::to_string(s.longestCopyRun) + ",\n";
    o += "  \"longest_literal_run\": " + std::to_string(s.longestLiteralRun) + "\n";
    o += "}\n";
    std::fputs(o.c_str(), stdout);
}

int RunInfo(const InfoOptions& options) {
    std::string error;
    const auto payload = ReadWholeFile(options.payload, &error);
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
        r.scriptError = ScriptView::Parse(script.script, &view);
        if (r.scriptError == ScriptError::Ok) r.script = view;
    }
    // The view points into `script`, which lives until the report is printed.
    options.json ? PrintJson(r) : PrintText(r);
    if (!r.decodeError.empty()) {
        ReportError("'" + options.payload + "' is a damaged payload: " + r.decodeError);
        return kExitFailure;
    }
    if (!r.script) {
        ReportError("'" + options.payload +
                    "' holds a damaged script: " + ScriptErrorName(r.scriptError));
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
    info->add_flag("--json", options->json, "Print the description as JSON");
    info->callback([options, exitCode] { *exitCode = RunInfo(*options); });
}

}  // namespace morivane::sabunn

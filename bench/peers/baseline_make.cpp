// baseline_make OLD NEW -o OUT [--plain] [--unit N]: the straightforward
// builder's payload for OLD -> NEW, for the side-by-side benchmark
// (scripts/bench-peers). Prints the script's counts on standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bench/peers/baseline_builder.h"

namespace {

std::optional<std::vector<std::uint8_t>> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    if (in.bad()) return std::nullopt;
    return bytes;
}

int Usage() {
    std::fprintf(stderr, "usage: baseline_make OLD NEW -o OUT [--plain] [--unit N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* paths[2] = {nullptr, nullptr};
    const char* out = nullptr;
    bool plain = false;
    int unit = 32;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else if (std::strcmp(argv[i], "--plain") == 0) {
            plain = true;
        } else if (std::strcmp(argv[i], "--unit") == 0 && i + 1 < argc) {
            unit = std::atoi(argv[++i]);
        } else if (argv[i][0] != '-' && positional < 2) {
            paths[positional++] = argv[i];
        } else {
            return Usage();
        }
    }
    if (positional != 2 || out == nullptr || unit < 1) return Usage();

    const auto old = ReadFile(paths[0]);
    const auto neu = ReadFile(paths[1]);
    if (!old || !neu) {
        std::fprintf(stderr, "baseline_make: cannot read '%s'\n", !old ? paths[0] : paths[1]);
        return 1;
    }
    morivane::bench::BaselineScriptStats stats;
    const auto script = morivane::bench::BaselineScript(*old, *neu, unit, &stats);
    if (script.empty()) {
        std::fprintf(stderr, "baseline_make: '%s' is not a whole number of %d-byte units\n",
                     paths[1], unit);
        return 1;
    }
    const auto payload = plain ? script : morivane::bench::BaselinePack(script);
    if (payload.empty()) {
        std::fprintf(stderr, "baseline_make: the script is too long to pack\n");
        return 1;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(payload.data()),
               static_cast<std::streamsize>(payload.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "baseline_make: cannot write '%s'\n", out);
        return 1;
    }
    std::printf("%s: %zu bytes; script %zu bytes: %u runs, %u copy runs, %u literal units\n", out,
                payload.size(), script.size(), stats.runs, stats.copies, stats.literalUnits);
    return 0;
}

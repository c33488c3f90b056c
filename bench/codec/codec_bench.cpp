// Codec benchmark: LZSS encoding with the optimal and the greedy parse,
// LZSS expansion, and both payload stages, on generated 1.5 MB scripts.
// Sizes are compared within the same run: the summary prints the optimal
// parse's size as a fraction of the greedy parse's.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/codec/script_gen.h"
#include "decode/hf.h"
#include "decode/lzss.h"
#include "tools/encode/hf_encode.h"
#include "tools/encode/lzss_encode.h"
#include "tools/encode/payload.h"

namespace morivane::bench {
namespace {

constexpr std::uint32_t kUnits = 46000;  // 1.47 MB of literal pool
constexpr std::uint32_t kSeeds[] = {1, 2, 3};

const std::vector<std::uint8_t>& Script(std::size_t i) {
    static const std::vector<std::vector<std::uint8_t>> scripts = [] {
        std::vector<std::vector<std::uint8_t>> s;
        for (std::uint32_t seed : kSeeds) s.push_back(ScriptGenerator(seed).Script(kUnits));
        return s;
    }();
    return scripts[i];
}

void Encode(benchmark::State& state, LzssParse parse) {
    const auto& script = Script(static_cast<std::size_t>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        const auto stream = LzssCompress(script, {.parse = parse});
        size = stream.size();
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.size()));
    state.counters["in_bytes"] = static_cast<double>(script.size());
    state.counters["out_bytes"] = static_cast<double>(size);
    if (parse == LzssParse::Optimal) {
        const auto greedy = LzssCompress(script, {.parse = LzssParse::Greedy});
        state.counters["vs_greedy"] =
            static_cast<double>(size) / static_cast<double>(greedy.size());
    }
}

void BM_LzssEncodeOptimal(benchmark::State& state) {
    Encode(state, LzssParse::Optimal);
}
void BM_LzssEncodeGreedy(benchmark::State& state) {
    Encode(state, LzssParse::Greedy);
}

void BM_LzssDecode(benchmark::State& state) {
    const auto& script = Script(static_cast<std::size_t>(state.range(0)));
    const auto stream = LzssCompress(script);
    for (auto _ : state) {
        const ByteBuffer out = LzssExpand(stream);
        if (!out || static_cast<std::size_t>(out.size()) != script.size()) {
            state.SkipWithError("expansion failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    // Throughput counts the bytes produced.
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.size()));
}

void BM_PayloadPack(benchmark::State& state) {
    const auto& script = Script(static_cast<std::size_t>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        const auto payload = PackPayload(script);
        size = payload.size();
        benchmark::DoNotOptimize(payload.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.size()));
    state.counters["out_bytes"] = static_cast<double>(size);
}

void BM_PayloadUnpack(benchmark::State& state) {
    const auto& script = Script(static_cast<std::size_t>(state.range(0)));
    const auto payload = PackPayload(script);
    for (auto _ : state) {
        const ByteBuffer out = HfLzssUnpack(payload);
        if (!out || static_cast<std::size_t>(out.size()) != script.size()) {
            state.SkipWithError("unpacking failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.size()));
}

BENCHMARK(BM_LzssEncodeOptimal)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeGreedy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PayloadPack)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PayloadUnpack)->Arg(0)->Unit(benchmark::kMillisecond);

// Sizes do not depend on timing, so they are printed once, after the runs.
void PrintSizeSummary() {
    std::printf("\nCompressed sizes (script -> LZSS optimal / greedy, ratio; payload):\n");
    for (std::size_t i = 0; i < std::size(kSeeds); ++i) {
        const auto& script = Script(i);
        LzssEncodeStats optimal, greedy;
        const auto a = LzssCompress(script, {.parse = LzssParse::Optimal}, &optimal);
        const auto b = LzssCompress(script, {.parse = LzssParse::Greedy}, &greedy);
        const auto payload = PackPayload(script);
        std::printf(
            "  script %zu: %zu -> %zu / %zu bytes, optimal/greedy = %.4f; payload %zu bytes\n", i,
            script.size(), a.size(), b.size(),
            static_cast<double>(a.size()) / static_cast<double>(b.size()), payload.size());
    }
}

}  // namespace
}  // namespace morivane::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    morivane::bench::PrintSizeSummary();
    return 0;
}

// Codec benchmark: LZSS encoding with the optimal and the greedy parse,
// LZSS expansion, the Huffman stage and both payload stages, on generated
// 1.5 MB scripts. Everything is compared within the same run: the summaries
// print each decoder's speed-up over the reference decoder and the optimal
// parse's size as a fraction of the greedy parse's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "bench/recording_reporter.h"
#include "decode/hf.h"
#include "decode/lzss.h"
#include "tests/support/reference_decode.h"
#include "tests/support/seeded_content.h"
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
        for (std::uint32_t seed : kSeeds) {
            s.push_back(testdata::ScriptGenerator(seed).Script(kUnits));
        }
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

// The decoders and the reference decoders on the same inputs: the LZSS
// stream alone, the Huffman stage alone, and both stages from the payload.
// Throughput counts bytes of script (for the Huffman stage: of LZSS stream)
// per second of CPU time.
enum class Stage { Lzss, Hf, Payload };

struct StageInput {
    std::vector<std::uint8_t> input;
    std::size_t outputSize;
};

const StageInput& InputFor(Stage stage, std::size_t i) {
    static std::map<std::pair<Stage, std::size_t>, StageInput> inputs;
    auto found = inputs.find({stage, i});
    if (found != inputs.end()) return found->second;
    const auto& script = Script(i);
    StageInput made;
    switch (stage) {
        case Stage::Lzss:
            made = {LzssCompress(script), script.size()};
            break;
        case Stage::Hf: {
            // The payload's container; what it holds is the LZSS stream.
            auto payload = PackPayload(script);
            const auto stream = static_cast<std::size_t>(HfUnpackedSize(payload));
            made = {std::move(payload), stream};
            break;
        }
        case Stage::Payload:
            made = {PackPayload(script), script.size()};
    }
    return inputs.emplace(std::make_pair(stage, i), std::move(made)).first->second;
}

// `decode` takes the input and gives the size of its output, or why it failed.
template <typename Decode>
void DecodeStage(benchmark::State& state, Stage stage, Decode decode) {
    const StageInput& in = InputFor(stage, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string failure;
        const std::size_t size = decode(in.input, &failure);
        if (!failure.empty() || size != in.outputSize) {
            state.SkipWithError(failure.empty() ? "wrong size" : failure.c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.outputSize));
}

void Decode(benchmark::State& state, Stage stage, ByteBuffer (*decoder)(ByteSpan, DecodeStatus*)) {
    DecodeStage(state, stage, [decoder](ByteSpan input, std::string* failure) -> std::size_t {
        DecodeStatus status = DecodeStatus::Ok;
        const ByteBuffer out = decoder(input, &status);
        if (!out) *failure = DecodeStatusName(status);
        benchmark::DoNotOptimize(out.data());
        return static_cast<std::size_t>(out.size());
    });
}

void DecodeReference(benchmark::State& state, Stage stage,
                     reference::Decoded (*decoder)(reference::Input)) {
    DecodeStage(state, stage, [decoder](ByteSpan input, std::string* failure) -> std::size_t {
        const reference::Decoded out = decoder(input);
        if (!out.ok) *failure = out.failure;
        benchmark::DoNotOptimize(out.bytes.data());
        return out.bytes.size();
    });
}

void BM_LzssDecode(benchmark::State& state) {
    Decode(state, Stage::Lzss, &LzssExpand);
}
void BM_LzssDecodeReference(benchmark::State& state) {
    DecodeReference(state, Stage::Lzss, &reference::LzssExpand);
}
void BM_HfDecode(benchmark::State& state) {
    Decode(state, Stage::Hf, &HfUnpack);
}
void BM_HfDecodeReference(benchmark::State& state) {
    DecodeReference(state, Stage::Hf, &reference::HfUnpack);
}
void BM_PayloadUnpack(benchmark::State& state) {
    Decode(state, Stage::Payload, &HfLzssUnpack);
}
void BM_PayloadUnpackReference(benchmark::State& state) {
    DecodeReference(state, Stage::Payload, &reference::HfLzssUnpack);
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

BENCHMARK(BM_LzssEncodeOptimal)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncodeGreedy)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PayloadPack)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecodeReference)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HfDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HfDecodeReference)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PayloadUnpack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PayloadUnpackReference)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Each decoder's throughput beside its reference's, measured in this run.
void PrintDecodeSummary(const std::map<std::string, RecordingReporter::Figures>& runs) {
    std::printf("\nDecoding, MB/s of output per CPU second (decoder / reference = speed-up):\n");
    for (const char* stage : {"BM_LzssDecode", "BM_HfDecode", "BM_PayloadUnpack"}) {
        for (std::size_t i = 0; i < std::size(kSeeds); ++i) {
            const std::string arg = "/" + std::to_string(i);
            const auto fast = runs.find(stage + arg);
            const auto slow = runs.find(std::string(stage) + "Reference" + arg);
            if (fast == runs.end() || slow == runs.end()) continue;
            const double fastRate = fast->second.bytesPerSecond;
            const double slowRate = slow->second.bytesPerSecond;
            std::printf("  %-17s script %zu: %8.1f / %7.1f MB/s = %5.2fx\n", stage + 3, i,
                        fastRate / 1e6, slowRate / 1e6, fastRate / slowRate);
        }
    }
}

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
    return morivane::bench::RunBenchmarks(argc, argv, [](const auto& figures) {
        morivane::bench::PrintDecodeSummary(figures);
        morivane::bench::PrintSizeSummary();
    });
}

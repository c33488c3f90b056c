// Apply benchmark: DiffPatcher::Patch through PosixFileSystem, as `sabunn
// apply` runs it, on generated scripts that rebuild the same 2 MB file from a
// 2 MB old file with one-byte units (tens of thousands of tiny runs) and with
// 32-byte units, stored plain and packed, and once more with the output
// buffered by stdio alone. The baseline, measured in the same run, reads the
// old file and writes the new one whole through the same file system; the
// summary prints each apply's time as a multiple of it.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/recording_reporter.h"
#include "patch/diff_patcher.h"
#include "patch/sabunn_script.h"
#include "platform/memory_payload_store.h"
#include "platform/posix/posix_file_system.h"
#include "tests/support/seeded_content.h"
#include "tools/encode/payload.h"

namespace morivane::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFileBytes = 2u << 20;
constexpr std::uint32_t kSeed = 20;

// A scratch directory for the old and the new file, removed at exit.
const std::string& Scratch() {
    static const std::string dir = [] {
        std::string pattern = "/tmp/bench_apply.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        std::atexit([] {
            std::remove((Scratch() + "/old").c_str());
            std::remove((Scratch() + "/new").c_str());
            ::rmdir(Scratch().c_str());
        });
        return pattern;
    }();
    return dir;
}

// The old file: code-like bytes from a small alphabet.
const Bytes& OldFile() {
    static const Bytes old = [] {
        testdata::Rng rng(kSeed);
        Bytes bytes(kFileBytes);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng.Below(97));
        FILE* f = std::fopen((Scratch() + "/old").c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::abort();
        }
        std::fclose(f);
        return bytes;
    }();
    return old;
}

// A new file of kFileBytes made of copies of the old file's bytes, from any
// offset, and new bytes, in runs of the given sizes (in units); the script
// that rebuilds it; and that script packed.
struct Case {
    Bytes newFile;
    Bytes script;
    Bytes packed;
    std::size_t runs = 0;
};

Case MakeCase(std::int32_t unit, std::uint32_t maxCopyUnits, std::uint32_t maxLiteralUnits) {
    testdata::Rng rng(kSeed + static_cast<std::uint32_t>(unit));
    const Bytes& old = OldFile();
    const std::size_t units = kFileBytes / static_cast<std::size_t>(unit);
    std::vector<std::int16_t> runs;
    std::vector<std::uint32_t> offsets;
    Bytes pool;
    Case c;
    std::size_t done = 0;
    while (done < units) {
        const std::size_t copy = std::min<std::size_t>(units - done, 1 + rng.Below(maxCopyUnits));
        const std::size_t bytes = copy * static_cast<std::size_t>(unit);
        const auto from = rng.Below(static_cast<std::uint32_t>(old.size() - bytes));
        runs.push_back(static_cast<std::int16_t>(copy));
        offsets.push_back(from);
        c.newFile.insert(c.newFile.end(), old.begin() + from, old.begin() + from + bytes);
        done += copy;
        const std::size_t literal =
            std::min<std::size_t>(units - done, 1 + rng.Below(maxLiteralUnits));
        if (literal == 0) break;
        runs.push_back(static_cast<std::int16_t>(-static_cast<std::int32_t>(literal)));
        for (std::size_t i = 0; i < literal * static_cast<std::size_t>(unit); ++i) {
            pool.push_back(static_cast<std::uint8_t>(rng.Next()));
        }
        c.newFile.insert(c.newFile.end(), pool.end() - literal * unit, pool.end());
        done += literal;
    }
    c.script = EncodeScript(unit, runs, offsets, pool);
    c.packed = PackPayload(c.script);
    c.runs = runs.size();
    return c;
}

// Unit size 1: copies of up to 64 bytes between literals of up to 4 bytes,
// about 60,000 runs. Unit size 32: up to 16 and up to 2 units.
const Case& CaseFor(std::int64_t unit) {
    static const Case small = MakeCase(1, 64, 4);
    static const Case large = MakeCase(32, 16, 2);
    return unit == 1 ? small : large;
}

// The POSIX file system with output files that leave the buffering to stdio
// (a 1 MiB buffer), as they did before they had a buffer of their own: the
// same run shows what the per-write cost of stdio comes to.
class StdioFileSystem : public PosixFileSystem {
  public:
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return nullptr;
        return std::make_unique<StdioFile>(file);
    }

  private:
    class StdioFile : public OutputFile {
      public:
        explicit StdioFile(FILE* file) : file_(file), buffer_(kDefaultWriteBuffer) {
            std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
        }
        ~StdioFile() override {
            if (file_ != nullptr) std::fclose(file_);
        }
        std::size_t Write(const void* data, std::size_t size, std::size_t count) override {
            return std::fwrite(data, size, count, file_);
        }
        bool Close() override {
            const bool closed = std::fclose(file_) == 0;
            file_ = nullptr;
            return closed;
        }

      private:
        FILE* file_;
        std::vector<char> buffer_;
    };
};

enum class Output { OwnBuffer, Stdio };

void Apply(benchmark::State& state, bool packed, Output output = Output::OwnBuffer) {
    const Case& c = CaseFor(state.range(0));
    PosixFileSystem ownBuffer;
    StdioFileSystem stdio;
    PosixFileSystem& files = output == Output::Stdio ? stdio : ownBuffer;
    MemoryPayloadStore store;
    store.Add(1, packed ? c.packed : c.script);
    const std::string oldPath = Scratch() + "/old";
    const std::string newPath = Scratch() + "/new";
    for (auto _ : state) {
        DiffPatcher patcher(files, store);
        const int result = patcher.Patch(oldPath, newPath, 1);
        if (result != 0) {
            state.SkipWithError(("patch failed with message " + std::to_string(result)).c_str());
            break;
        }
    }
    // Checked once, outside the timing: the file written is the new file.
    std::unique_ptr<InputFile> written = files.OpenForReading(newPath);
    Bytes bytes(c.newFile.size());
    if (written == nullptr || written->Length() != static_cast<std::int64_t>(bytes.size()) ||
        written->Read(bytes.data(), 1, bytes.size()) != bytes.size() || bytes != c.newFile) {
        state.SkipWithError("the patched file is not the new file");
    }
    state.counters["runs"] = static_cast<double>(c.runs);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.newFile.size()));
}

void BM_ApplyPlain(benchmark::State& state) {
    Apply(state, false);
}
void BM_ApplyPacked(benchmark::State& state) {
    Apply(state, true);
}
void BM_ApplyPlainStdio(benchmark::State& state) {
    Apply(state, false, Output::Stdio);
}

// Reading the old file and writing the new one, each whole.
void BM_CopyWhole(benchmark::State& state) {
    const Case& c = CaseFor(1);
    PosixFileSystem files;
    Bytes old(kFileBytes);
    for (auto _ : state) {
        std::unique_ptr<InputFile> in = files.OpenForReading(Scratch() + "/old");
        std::unique_ptr<OutputFile> out = files.CreateForWriting(Scratch() + "/new");
        if (in == nullptr || out == nullptr || in->Read(old.data(), 1, old.size()) != old.size() ||
            out->Write(c.newFile.data(), 1, c.newFile.size()) != c.newFile.size() ||
            !out->Close()) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.newFile.size()));
}

BENCHMARK(BM_CopyWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyPlain)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyPacked)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyPlainStdio)->Arg(1)->Arg(32)->Unit(benchmark::kMillisecond);

void PrintSummary(const std::map<std::string, RecordingReporter::Figures>& runs) {
    const auto base = runs.find("BM_CopyWhole");
    if (base == runs.end()) return;
    const double baseWall = base->second.realTime;
    const double baseCpu = base->second.cpuTime;
    std::printf(
        "\nTime as a multiple of reading and writing the files whole "
        "(%.2f ms wall, %.2f ms CPU):\n",
        baseWall, baseCpu);
    for (const auto& [name, run] : runs) {
        if (name == base->first) continue;
        std::printf("  %-22s %6.2f ms wall = %5.2fx, %6.2f ms CPU = %5.2fx\n", name.c_str(),
                    run.realTime, run.realTime / baseWall, run.cpuTime, run.cpuTime / baseCpu);
    }
    for (std::int64_t unit : {1, 32}) {
        const Case& c = CaseFor(unit);
        std::printf("  unit %2lld: %zu runs, script %zu bytes, packed %zu bytes\n",
                    static_cast<long long>(unit), c.runs, c.script.size(), c.packed.size());
    }
}

}  // namespace
}  // namespace morivane::bench

int main(int argc, char** argv) {
    return morivane::bench::RunBenchmarks(argc, argv, &morivane::bench::PrintSummary);
}

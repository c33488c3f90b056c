// The console report of Google Benchmark that also keeps each run's figures,
// so that a benchmark can print ratios between runs of the same process once
// they are all done, and the main function that uses it.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace morivane::bench {

class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    struct Figures {
        double realTime = 0;        // per iteration, in the benchmark's unit
        double cpuTime = 0;         // per iteration, in the benchmark's unit
        double bytesPerSecond = 0;  // 0 unless the benchmark counts bytes
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            Figures& f = figures[run.benchmark_name()];
            f.realTime = run.GetAdjustedRealTime();
            f.cpuTime = run.GetAdjustedCPUTime();
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end()) f.bytesPerSecond = rate->second.value;
        }
    }

    std::map<std::string, Figures> figures;  // by benchmark name
};

// The body of a benchmark's main: runs the benchmarks the command line
// selects, then hands their figures to `summarise`. Returns the exit code.
template <typename Summarise>
int RunBenchmarks(int argc, char** argv, Summarise summarise) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    summarise(reporter.figures);
    return 0;
}

}  // namespace morivane::bench

#pragma once
// The console report of a Google Benchmark run, then a summary that compares
// figures of that same run (our code against a peer), printed by the
// benchmark's own function:
//
//   int main(int argc, char** argv) {
//     return bench::run_with_summary(argc, argv, [](const bench::RatioReporter& r) {
//       std::printf("ours / theirs = %.2f\n", r.ratio("BM_Ours", "BM_Theirs"));
//     });
//   }
#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  using Summary = std::function<void(const RatioReporter&)>;
  explicit RatioReporter(Summary summary) : summary_(std::move(summary)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration)
        ns_[r.benchmark_name()] = r.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    summary_(*this);
  }

  // Real time per iteration in nanoseconds; 0 when the benchmark did not run.
  double ns(const std::string& name) const {
    auto at = ns_.find(name);
    return at == ns_.end() ? 0 : at->second;
  }
  // ns(a) / ns(b); 0 when either did not run.
  double ratio(const std::string& a, const std::string& b) const {
    return ns(a) > 0 && ns(b) > 0 ? ns(a) / ns(b) : 0;
  }

 private:
  Summary summary_;
  std::map<std::string, double> ns_;
};

// Runs the benchmarks named on the command line, then the summary.
inline int run_with_summary(int argc, char** argv, RatioReporter::Summary summary) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(summary));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench

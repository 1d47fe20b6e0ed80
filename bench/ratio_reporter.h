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
//
// Unless the command line says otherwise, every benchmark runs five times,
// the runs of all benchmarks shuffled among each other, and the figures
// compared are the medians: a burst of load on a shared machine then hits
// one repetition of one side, not a whole side. A benchmark that reports an
// error (state.SkipWithError) makes the program's status 1.
#include <benchmark/benchmark.h>

#include <cstdio>
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

  // Shows the aggregates of repeated benchmarks, the single runs of the
  // others, and every run that reported an error: the library's own
  // "aggregates only" would hide an error in some of the repetitions.
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& r : runs)
      if (r.error_occurred || r.run_type == Run::RT_Aggregate || r.repetitions <= 1) shown.push_back(r);
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    for (const Run& r : runs) {
      if (r.error_occurred) {
        failed_[r.run_name.str()] = true;
        continue;
      }
      const double ns = r.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
      // A median of repetitions overrides the single figures of its runs.
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        median_[r.run_name.str()] = ns;
      else if (r.run_type == Run::RT_Iteration)
        single_[r.run_name.str()] = ns;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    summary_(*this);
  }

  // Real time per iteration in nanoseconds, the median when the benchmark
  // was repeated; 0 when it did not run or one of its runs failed.
  double ns(const std::string& name) const {
    if (failed_.count(name)) return 0;
    auto at = median_.find(name);
    if (at != median_.end()) return at->second;
    at = single_.find(name);
    return at == single_.end() ? 0 : at->second;
  }
  // True when a run of any benchmark reported an error.
  bool failed() const { return !failed_.empty(); }
  // ns(a) / ns(b); 0 when either did not run.
  double ratio(const std::string& a, const std::string& b) const {
    return ns(a) > 0 && ns(b) > 0 ? ns(a) / ns(b) : 0;
  }

 private:
  Summary summary_;
  std::map<std::string, double> single_, median_;
  std::map<std::string, bool> failed_;
};

// Runs the benchmarks named on the command line, then the summary; the
// status is 1 when a benchmark reported an error. The defaults (five
// interleaved repetitions) come before the caller's arguments, which
// therefore override them.
inline int run_with_summary(int argc, char** argv, RatioReporter::Summary summary) {
  static char reps[] = "--benchmark_repetitions=5";
  static char shuffle[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args = {argv[0], reps, shuffle};
  args.insert(args.end(), argv + 1, argv + argc);
  int n = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  RatioReporter reporter(std::move(summary));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.failed()) {
    std::fprintf(stderr, "%s: a benchmark reported an error\n", argv[0]);
    return 1;
  }
  return 0;
}

}  // namespace bench

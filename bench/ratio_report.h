// SPDX-License-Identifier: GPL-3.0-or-later
// A main for benchmark programs that compare one measurement with another taken in the same
// run: it runs the benchmarks (five repetitions unless told otherwise, taking turns), reports them
// as usual and then prints, for each pair, the ratio of their median real times against its goal.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace kvd::bench {

struct RatioGoal {
  const char* what;
  const char* measured;  // benchmark names, as reported (with their arguments)
  const char* against;
  double goal;  // the ratio measured / against should not exceed this
};

class MedianCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (median || single)
        seconds_[run.run_name.str()] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const std::map<std::string, double>& Seconds() const { return seconds_; }

 private:
  std::map<std::string, double> seconds_;
};

inline int RunWithRatios(int argc, char** argv, std::initializer_list<RatioGoal> goals) {
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=5";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  // The repetitions of the benchmarks take turns in a random order, so that a ratio compares
  // two medians taken over the same stretch of a shared machine's load, not two stretches.
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  // Given first, so that the caller's own flags win.
  args.insert(args.begin() + 1, {reps.data(), aggregates.data(), interleave.data()});
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  MedianCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nMedians of real time, compared within this run:\n");
  for (const RatioGoal& g : goals) {
    const auto a = reporter.Seconds().find(g.measured);
    const auto b = reporter.Seconds().find(g.against);
    if (a == reporter.Seconds().end() || b == reporter.Seconds().end() || b->second <= 0) {
      std::printf("  %-44s not measured in this run\n", g.what);
      continue;
    }
    const double ratio = a->second / b->second;
    std::printf("  %-44s %10.1f us / %10.1f us = %5.2f  (goal <= %.2f: %s)\n", g.what,
                a->second * 1e6, b->second * 1e6, ratio, g.goal,
                ratio <= g.goal ? "met" : "NOT met");
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace kvd::bench

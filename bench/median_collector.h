// A console reporter that also keeps each benchmark's median counters (or
// its only run, when repetitions are turned off) for a closing table.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

class MedianCollector : public benchmark::ConsoleReporter {
 public:
  MedianCollector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      const std::string &name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[name] = run.counters;
      else if (run.run_type == Run::RT_Iteration && !medians_.count(name))
        singles_[name] = run.counters;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::optional<double> counter(const std::string &benchmark, const std::string &counter) const {
    for (const auto *found : {&medians_, &singles_}) {
      const auto entry = found->find(benchmark);
      if (entry == found->end()) continue;
      const auto value = entry->second.find(counter);
      if (value != entry->second.end()) return value->second.value;
    }
    return std::nullopt;
  }

 private:
  std::map<std::string, benchmark::UserCounters> medians_;
  std::map<std::string, benchmark::UserCounters> singles_;
};

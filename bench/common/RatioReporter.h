// A console reporter that also remembers each benchmark's time, so that a benchmark program can
// print the ratios its targets are stated in, all measured in one run.
#pragma once

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                m_times[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    double time(const std::string& name) const {
        auto it = m_times.find(name);
        return it == m_times.end() ? 0.0 : it->second;
    }

    // Prints "label: a / b = ratio (target)" and returns whether the target is met.
    bool ratio(const char* label, const std::string& a, const std::string& b, double limit) const {
        const double ta = time(a), tb = time(b);
        if (ta <= 0 || tb <= 0) {
            std::printf("%-60s missing\n", label);
            return false;
        }
        const double r = ta / tb;
        const bool ok = limit <= 0 || r <= limit;
        if (limit > 0)
            std::printf("%-60s %8.3f  (target <= %.2f) %s\n", label, r, limit, ok ? "met" : "NOT MET");
        else
            std::printf("%-60s %8.3f  (reported)\n", label, r);
        return ok;
    }

  private:
    std::map<std::string, double> m_times;
};

} // namespace bench

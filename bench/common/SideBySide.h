// Two operations timed side by side on a shared, noisy machine: each benchmark iteration is one
// round in which both run once, the order alternating from round to round, so that both see
// the same state of the machine and of the engine (a page that has just loaded, a busy
// neighbour). The figures are the medians of the rounds' times, and the ratio is the median of
// the rounds' own ratios: each round compares two runs made back to back, so that a slow
// stretch of the machine weighs on both sides of the ratios it falls in.
#pragma once

#include <QElapsedTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

class SideBySide {
  public:
    struct Pair {
        std::string label;
        std::vector<double> ours, theirs; // seconds, one entry per round
    };

    // Registers a benchmark called name whose rounds run ours() and theirs(), each after
    // between() (untimed). The benchmark's own time is ours; the medians are printed by report().
    void add(const std::string& name, const std::string& label, int rounds, std::function<void()> setUp,
             std::function<bool()> ours, std::function<bool()> theirs, std::function<void()> between) {
        Pair& pair = m_pairs[name];
        pair.label = label;
        m_order.push_back(name);
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=, &pair](benchmark::State& state) {
                                         setUp();
                                         // One untimed round: whatever the first use of a page costs is paid
                                         // by neither.
                                         between();
                                         ours();
                                         between();
                                         theirs();
                                         int round = 0;
                                         for (auto _ : state) {
                                             double tOurs = 0, tTheirs = 0;
                                             auto run = [&](const std::function<bool()>& f, double& seconds) {
                                                 between();
                                                 QElapsedTimer t;
                                                 t.start();
                                                 if (!f()) state.SkipWithError("the operation failed");
                                                 seconds = double(t.nsecsElapsed()) / 1e9;
                                             };
                                             if (round++ % 2 == 0) {
                                                 run(ours, tOurs);
                                                 run(theirs, tTheirs);
                                             } else {
                                                 run(theirs, tTheirs);
                                                 run(ours, tOurs);
                                             }
                                             pair.ours.push_back(tOurs);
                                             pair.theirs.push_back(tTheirs);
                                             state.SetIterationTime(tOurs);
                                         }
                                     })
            ->UseManualTime()
            ->Iterations(rounds)
            ->Unit(benchmark::kMillisecond);
    }

    static double median(std::vector<double> v) {
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }

    // Prints each pair's medians and ratio against limit; true when every ratio that was measured
    // is within it.
    bool report(const char* oursName, const char* theirsName, double limit) const {
        bool ok = true;
        std::printf("\nMedians of alternating rounds, all from this run (ratio: the median of the rounds' "
                    "ratios):\n");
        for (const std::string& name : m_order) {
            const Pair& p = m_pairs.at(name);
            if (p.ours.empty()) continue; // left out by a filter
            const double a = median(p.ours), b = median(p.theirs);
            std::vector<double> ratios;
            for (std::size_t i = 0; i < p.ours.size() && i < p.theirs.size(); ++i)
                if (p.theirs[i] > 0) ratios.push_back(p.ours[i] / p.theirs[i]);
            const double ratio = median(ratios);
            const bool met = !ratios.empty() && ratio <= limit;
            ok &= met;
            std::printf(
                "%-24s %s %7.1f ms, %s %7.1f ms (ratio of the medians %.3f); ratio %.3f (target <= %.2f) "
                "%s  [%zu rounds]\n",
                p.label.c_str(), oursName, a * 1000, theirsName, b * 1000, b > 0 ? a / b : 0.0, ratio, limit,
                met ? "met" : "NOT MET", p.ours.size());
        }
        return ok;
    }

  private:
    std::map<std::string, Pair> m_pairs;
    std::vector<std::string> m_order;
};

} // namespace bench

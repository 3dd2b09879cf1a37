#pragma once
// The ratio reporter, plus figures held against a target of their own rather than against a floor:
// a benchmark's real time per iteration or one of its counters, printed after the ratios as
// "<label>: N (target <= M)", with "missed" appended when N is above M. As with the ratios, a
// benchmark that did not run (or ended in an error) is said to be not measured.

#include "bench/ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orv::bench {

struct Target
{
    std::string label;     // printed as given, e.g. "scan ... (ms)"
    std::string benchmark; // as reported, e.g. "BM_Scan/real_time"
    std::string counter;   // empty: the real time per iteration, in milliseconds
    double most = 0;       // the figure must not be above this
    bool strict = false;   // true: it must be below `most`
};

class TargetReporter : public RatioReporter
{
public:
    TargetReporter(std::vector<Ratio> ratios, std::vector<Target> targets)
        : RatioReporter(std::move(ratios))
        , targets_(std::move(targets))
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        RatioReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            Figures& f = figures_[run.benchmark_name()];
            f.milliseconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
            for (const auto& [name, counter] : run.counters) {
                f.counters[name] = counter.value;
            }
        }
    }

    void Finalize() override
    {
        RatioReporter::Finalize();
        for (const Target& t : targets_) {
            const std::optional<double> value = figure(t);
            if (!value) {
                std::printf("%s: not measured (%s did not run)\n", t.label.c_str(), t.benchmark.c_str());
                continue;
            }
            const bool missed = t.strict ? *value >= t.most : *value > t.most;
            std::printf("%s: %.1f (target %s %g)%s\n", t.label.c_str(), *value, t.strict ? "<" : "<=", t.most,
                        missed ? " missed" : "");
        }
    }

private:
    std::optional<double> figure(const Target& t) const
    {
        const auto figures = figures_.find(t.benchmark);
        if (figures == figures_.end()) {
            return std::nullopt;
        }
        if (t.counter.empty()) {
            return figures->second.milliseconds;
        }
        const auto counter = figures->second.counters.find(t.counter);
        return counter == figures->second.counters.end() ? std::nullopt : std::optional<double>(counter->second);
    }

    struct Figures
    {
        double milliseconds = 0;
        std::map<std::string, double> counters;
    };

    std::vector<Target> targets_;
    std::map<std::string, Figures> figures_;
};

} // namespace orv::bench

#pragma once
// The usual benchmark table, then each measured/floor ratio the program asks for. A ratio is
// printed only when both sides ran in this process without error; otherwise the line says which
// side is missing, never a made-up figure.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orv::bench {

struct Ratio
{
    std::string label;    // printed as "<label>: 1.23x"
    std::string measured; // benchmark names as reported, e.g. "BM_Login/real_time"
    std::string floor;
};

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    explicit RatioReporter(std::vector<Ratio> ratios)
        : ratios_(std::move(ratios))
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            // Seconds, so that benchmarks reported in different units still compare.
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                perIteration_[run.benchmark_name()] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const Ratio& r : ratios_) {
            const auto measured = perIteration_.find(r.measured);
            const auto floor = perIteration_.find(r.floor);
            if (measured == perIteration_.end() || floor == perIteration_.end() || floor->second <= 0) {
                std::printf("%s: not measured (%s did not run)\n", r.label.c_str(),
                            measured == perIteration_.end() ? r.measured.c_str() : r.floor.c_str());
                continue;
            }
            std::printf("%s: %.2fx\n", r.label.c_str(), measured->second / floor->second);
        }
    }

private:
    std::vector<Ratio> ratios_;
    std::map<std::string, double> perIteration_;
};

} // namespace orv::bench

#pragma once
// The usual benchmark table, then each measured/floor ratio the program asks for.

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
            perIteration_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const Ratio& r : ratios_) {
            const double measured = perIteration_[r.measured];
            const double floor = perIteration_[r.floor];
            if (measured > 0 && floor > 0) {
                std::printf("%s: %.2fx\n", r.label.c_str(), measured / floor);
            }
        }
    }

private:
    std::vector<Ratio> ratios_;
    std::map<std::string, double> perIteration_;
};

} // namespace orv::bench

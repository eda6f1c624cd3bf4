// Small helpers shared by the benchmarks: samples, their median and worst, memory of this process.
#pragma once

#include "support/procstatus.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace tarvik::bench {

using test::statusKb;

inline qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Summary
{
    double median = 0;
    double p99 = 0;
    double worst = 0;
    size_t count = 0;
};

inline Summary summarize(std::vector<double> samples)
{
    Summary s;
    s.count = samples.size();
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    s.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    s.p99 = samples[std::min(n - 1, static_cast<size_t>(static_cast<double>(n) * 0.99))];
    s.worst = samples.back();
    return s;
}

inline void printRow(const char* what, const Summary& s, const char* unit)
{
    std::printf("%-58s median %10.2f %s   p99 %10.2f %s   worst %10.2f %s   (n=%zu)\n", what, s.median, unit, s.p99,
                unit, s.worst, unit, s.count);
    std::fflush(stdout);
}

} // namespace tarvik::bench

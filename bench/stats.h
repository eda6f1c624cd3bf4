// Small helpers shared by the benchmarks: samples, their median and worst, memory of this process.
#pragma once

#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace tarvik::bench {

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

// A value of /proc/self/status in kB ("VmHWM" is the peak resident set, "VmRSS" the current one).
inline long statusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

inline void printRow(const char* what, const Summary& s, const char* unit)
{
    std::printf("%-58s median %10.2f %s   p99 %10.2f %s   worst %10.2f %s   (n=%zu)\n", what, s.median, unit, s.p99,
                unit, s.worst, unit, s.count);
    std::fflush(stdout);
}

} // namespace tarvik::bench

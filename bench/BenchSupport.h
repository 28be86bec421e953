#pragma once

// Small helpers shared by the benchmark programs: quiet logging and
// statistics. Pages and their JavaScript come from the test support.

#include <QtCore/QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace Bench {

// The module writes a debug line per push and per request; printing them
// would measure the terminal, not the module.
inline void quietDebugOutput()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& msg) {
            if (type == QtDebugMsg || type == QtInfoMsg)
                return;
            if (previous)
                previous(type, context, msg);
        });
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

inline void printResult(const char* figure, double value, const char* baseline, double base,
                        const char* unit, const char* goal)
{
    const double ratio = base != 0 ? value / base : 0;
    std::printf("%-48s %12.2f %s\n", figure, value, unit);
    std::printf("%-48s %12.2f %s\n", baseline, base, unit);
    std::printf("%-48s %12.3f   (goal: %s)\n\n", "ratio", ratio, goal);
    std::fflush(stdout);
}

} // namespace Bench

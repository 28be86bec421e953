#pragma once

// Small helpers shared by the benchmark programs: quiet logging, memory,
// statistics, how long the GUI thread stands still, and the goal line. Pages
// and their JavaScript come from the test support.

#include <KelCommand.h>
#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <time.h>
#include <unistd.h>
#include <utility>
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

// A site of count devices ("dev-100000" on) of 16 channels each.
inline DeviceStatusMap deviceStatus(int count)
{
    DeviceStatusMap map;
    for (int d = 0; d < count; ++d) {
        auto& channels = map["dev-" + std::to_string(100000 + d)];
        for (int c = 1; c <= 16; ++c)
            channels[c] = (d + c) % 3;
    }
    return map;
}

// Resident memory of this process in kB.
inline qint64 residentKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

// The processor time of the calling thread, in milliseconds, page faults
// included: on a shared machine the time on a clock would also count the
// other processes' turns.
inline double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
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

// interval: when given, the 95% interval of the ratio, printed below it.
inline void printRows(const char* figure, double value, const char* baseline, double base,
                      const char* unit, const char* ratioLabel, double ratio, const char* goal,
                      const std::pair<double, double>* interval = nullptr)
{
    std::printf("%-48s %12.2f %s\n", figure, value, unit);
    std::printf("%-48s %12.2f %s\n", baseline, base, unit);
    std::printf("%-48s %12.3f   (goal: %s)\n", ratioLabel, ratio, goal);
    if (interval)
        std::printf("%-48s %12.3f - %.3f\n", "  95% interval of that ratio", interval->first,
                    interval->second);
    std::printf("\n");
    std::fflush(stdout);
}

// The 95% confidence interval of the median of what values sample, from
// their order alone: the values of ranks n/2 - 0.98 sqrt(n) and
// 1 + n/2 + 0.98 sqrt(n), rounded (the binomial's normal approximation; it
// holds the median 95-99% of the time for 15 to 40 values). A goal inside
// it is not decided by one run.
inline std::pair<double, double> medianInterval(std::vector<double> values)
{
    if (values.empty())
        return { 0, 0 };
    std::sort(values.begin(), values.end());
    const double n = double(values.size());
    const double spread = 0.98 * std::sqrt(n);
    const auto at = [&](double rank) { return values[size_t(std::clamp(rank, 0.0, n - 1))]; };
    return { at(std::round(n / 2 - spread) - 1), at(std::round(n / 2 + spread)) };
}

inline void printResult(const char* figure, double value, const char* baseline, double base,
                        const char* unit, const char* goal)
{
    printRows(figure, value, baseline, base, unit, "ratio", base != 0 ? value / base : 0, goal);
}

// For figures taken in pairs, the two sides back to back in each round: the
// ratio is the median of the rounds' own ratios, which the machine's drift
// from one round to the next does not move as it moves each side's median.
// Returns that ratio.
// interval, when given, gets the ratio's 95% interval: a goal it holds (or
// lies above) is met, as one run on a shared machine cannot tell more.
inline double printPairedResult(const char* figure, const std::vector<double>& values,
                                const char* baseline, const std::vector<double>& bases,
                                const char* unit, const char* goal,
                                std::pair<double, double>* intervalOut = nullptr)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < values.size() && i < bases.size(); ++i)
        ratios.push_back(bases[i] != 0 ? values[i] / bases[i] : 0);
    const double ratio = median(ratios);
    const std::pair<double, double> interval = medianInterval(ratios);
    printRows(figure, median(values), baseline, median(bases), unit,
              "ratio, median of the rounds' own", ratio, goal, &interval);
    if (intervalOut)
        *intervalOut = interval;
    return ratio;
}

// The longest time the thread it lives in went without serving its events,
// between start() and stop(): the largest gap between the ticks of a 1 ms
// timer (a gap of about 1 ms means the thread never stood still). For long
// runs, windows() gives the longest gap of each second as well.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_longest = 0;
        m_windowLongest = 0;
        m_windows.clear();
        m_clock.start();
        m_last = 0;
        m_windowEnd = kWindowNs;
        m_timer.start(1);
    }
    // In milliseconds.
    double stop()
    {
        tick();
        m_timer.stop();
        return double(m_longest) / 1e6;
    }
    // The longest gap of each whole second between start() and stop(), in
    // milliseconds; a gap counts in the second it ends in.
    const std::vector<double>& windows() const { return m_windows; }

private:
    static constexpr qint64 kWindowNs = 1000000000;
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 gap = now - m_last;
        m_longest = std::max(m_longest, gap);
        m_last = now;
        if (now >= m_windowEnd) {
            m_windows.push_back(double(std::max(m_windowLongest, gap)) / 1e6);
            m_windowLongest = 0;
            m_windowEnd = now + kWindowNs;
        } else {
            m_windowLongest = std::max(m_windowLongest, gap);
        }
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_windowEnd = 0;
    qint64 m_windowLongest = 0;
    std::vector<double> m_windows;
};

// The last line of every benchmark.
inline int goalLine(const char* goal, bool met)
{
    std::printf("goal %s: %s\n", goal, met ? "met" : "NOT met");
    std::fflush(stdout);
    return 0;
}

} // namespace Bench

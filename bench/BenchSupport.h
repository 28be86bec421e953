#pragma once

// Small helpers shared by the benchmark programs: quiet logging, page
// evaluation and statistics.

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtCore/QVariant>
#include <QtWebEngineCore/QWebEnginePage>
#include <algorithm>
#include <cstdio>
#include <memory>
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

inline QVariant evalJs(QWebEnginePage* page, const QString& script, int timeoutMs = 30000)
{
    auto state = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    page->runJavaScript(script, [state, guard](const QVariant& value) {
        state->first = true;
        state->second = value;
        if (guard)
            guard->quit();
    });
    if (!state->first) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return state->second;
}

// Polls the expression every few milliseconds; false on time-out.
inline bool waitForJs(QWebEnginePage* page, const QString& expression, int timeoutMs = 120000)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (evalJs(page, QStringLiteral("!!(%1)").arg(expression)).toBool())
            return true;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

inline bool waitForLoad(QWebEnginePage* page, int timeoutMs = 60000)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(page, &QWebEnginePage::loadFinished, &loop, [&](bool success) {
        ok = success;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return ok;
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

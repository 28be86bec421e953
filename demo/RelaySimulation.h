#pragma once

#include <QtCore/QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

// What the demo host does on the relay by itself, from a host thread as a real
// client's logic does: device channels change state and are pushed with
// DevStatusUpdate, data-cache values change (FuncDataCacheCallback), a notice
// now and then (emitInfoNotify), the user token is answered, and synchronous
// notifications that ask for it are answered from this thread.
class RelaySimulation
{
public:
    RelaySimulation();
    ~RelaySimulation();

    RelaySimulation(const RelaySimulation&) = delete;
    RelaySimulation& operator=(const RelaySimulation&) = delete;

    // A notification whose JSON asks for "answer": "thread", "late" or "none"
    // is taken over here (true); any other is left to the caller.
    bool takeNotification(const QString& msg, const QString& sn);
    // Answers a "getUserToken" host notice with a userToken notice.
    void onHostNotice(const QString& message);

private:
    using Clock = std::chrono::steady_clock;

    void post(std::chrono::milliseconds delay, std::function<void()> task);
    void run();
    void tick();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<Clock::time_point, std::function<void()>> m_tasks;
    bool m_stopping = false;
    int m_ticks = 0;
    // Last, so that everything above exists while the thread runs.
    std::thread m_thread;
};

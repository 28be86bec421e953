#pragma once

#include <QtCore/QRandomGenerator>
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
    // tour: the lively random changes every second, from seed (0: a seed of
    // its own each run). Without the tour only posted tasks run.
    explicit RelaySimulation(bool tour = true, quint32 seed = 0);
    ~RelaySimulation();

    RelaySimulation(const RelaySimulation&) = delete;
    RelaySimulation& operator=(const RelaySimulation&) = delete;

    // A notification whose JSON asks for "answer": "thread", "late" or "none"
    // is taken over here (true); any other is left to the caller.
    bool takeNotification(const QString& msg, const QString& sn);
    // Answers a "getUserToken" host notice with a userToken notice.
    void onHostNotice(const QString& message);

    // Runs task on the relay's thread after delay, as a host thread would.
    void post(std::chrono::milliseconds delay, std::function<void()> task);

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void tick();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<Clock::time_point, std::function<void()>> m_tasks;
    bool m_stopping = false;
    int m_ticks = 0;
    const bool m_bTour;
    QRandomGenerator m_random;
    // Last, so that everything above exists while the thread runs.
    std::thread m_thread;
};

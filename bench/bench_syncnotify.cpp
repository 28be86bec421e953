// Synchronous notification latency: time from the host's NotifyResult on its
// own thread to the return of the waiting NotifyToHostEx, against the same
// hand-over on a bare mutex and condition variable.

#include "BenchSupport.h"

#include <QtCore/QCoreApplication>
#include <WebViewDataCenter.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCalls = 10000;
// The answerer lets the waiter fall asleep before it answers, as a host does.
constexpr auto kHostDelay = std::chrono::microseconds(200);

// The host's answering thread: takes one sn at a time and answers it.
class Answerer
{
public:
    template<typename AnswerFn>
    explicit Answerer(AnswerFn answer)
        : m_thread([this, answer] {
            std::unique_lock<std::mutex> lock(m_mutex);
            for (;;) {
                m_wake.wait(lock, [this] { return m_stop || m_hasWork; });
                if (m_stop)
                    return;
                m_hasWork = false;
                const QString sn = m_sn;
                lock.unlock();
                std::this_thread::sleep_for(kHostDelay);
                m_answeredAt.store(Clock::now().time_since_epoch().count());
                answer(sn);
                lock.lock();
            }
        })
    {}
    ~Answerer()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void post(const QString& sn)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sn = sn;
            m_hasWork = true;
        }
        m_wake.notify_all();
    }
    double microsecondsSinceAnswer() const
    {
        const Clock::rep now = Clock::now().time_since_epoch().count();
        return double(now - m_answeredAt.load()) / 1000.0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QString m_sn;
    bool m_hasWork = false;
    bool m_stop = false;
    std::atomic<Clock::rep> m_answeredAt { 0 };
    std::thread m_thread;
};

std::vector<double> throughModule()
{
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    Answerer answerer(
        [dc](const QString& sn) { dc->NotifyResult(QStringLiteral("{\"ok\":true}"), sn); });
    QObject::connect(dc, &WebViewDataCenter::emitFuncWebNotify,
                     [&answerer](QString&, QString& sn) { answerer.post(sn); });
    std::vector<double> latencies;
    latencies.reserve(kCalls);
    int lost = 0;
    for (int i = 0; i < kCalls; ++i) {
        QString msg = QStringLiteral("{\"ask\":%1}").arg(i);
        const QString answer = dc->NotifyToHostEx(msg, 1000);
        latencies.push_back(answerer.microsecondsSinceAnswer());
        lost += answer.isEmpty();
    }
    QObject::disconnect(dc, &WebViewDataCenter::emitFuncWebNotify, nullptr, nullptr);
    if (lost)
        std::printf("lost answers: %d\n", lost);
    return latencies;
}

// The bare hand-over: one flag under a mutex, one condition variable.
std::vector<double> bare()
{
    std::mutex mutex;
    std::condition_variable condition;
    bool answered = false;
    Answerer answerer([&](const QString&) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            answered = true;
        }
        condition.notify_all();
    });
    std::vector<double> latencies;
    latencies.reserve(kCalls);
    for (int i = 0; i < kCalls; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        answered = false;
        answerer.post(QString());
        condition.wait_until(lock, Clock::now() + std::chrono::seconds(1),
                             [&] { return answered; });
        lock.unlock();
        latencies.push_back(answerer.microsecondsSinceAnswer());
    }
    return latencies;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Bench::quietDebugOutput();

    std::printf("Synchronous notification: %d NotifyToHostEx calls answered by another thread\n\n",
                kCalls);
    const std::vector<double> base = bare();
    const std::vector<double> module = throughModule();
    Bench::printResult("module, median (us)", Bench::median(module), "bare hand-over, median (us)",
                       Bench::median(base), "us", "informative");
    Bench::printResult("module, 99th percentile (us)", Bench::percentile(module, 99),
                       "bare hand-over, 99th percentile (us)", Bench::percentile(base, 99), "us",
                       "module under 1000 us");
    std::printf("goal: module 99th percentile under 1000 us: %s\n",
                Bench::percentile(module, 99) < 1000 ? "met" : "NOT met");
    return 0;
}

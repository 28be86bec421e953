#include "RelaySimulation.h"

#include "DemoHost.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRandomGenerator>
#include <QtCore/QUuid>
#include <TaviSim.h>
#include <WebViewDataCenter.h>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kTick(1000);
// Inside the page's default wait of 300 ms, and well after it.
constexpr std::chrono::milliseconds kThreadAnswerDelay(120);
constexpr std::chrono::milliseconds kLateAnswerDelay(900);

} // namespace

RelaySimulation::RelaySimulation(bool tour, quint32 seed)
    : m_bTour(tour)
    , m_random(seed != 0 ? seed : QRandomGenerator::global()->generate())
    , m_thread([this] { run(); })
{}

RelaySimulation::~RelaySimulation()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

bool RelaySimulation::takeNotification(const QString& msg, const QString& sn)
{
    const QString mode
        = QJsonDocument::fromJson(msg.toUtf8()).object().value(QLatin1String("answer")).toString();
    const QJsonObject reply { { QStringLiteral("ok"), true },
                              { QStringLiteral("answeredBy"), QStringLiteral("host thread") },
                              { QStringLiteral("received"), msg } };
    const QString text = QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
    if (mode == QLatin1String("thread") || mode == QLatin1String("late")) {
        const bool late = mode == QLatin1String("late");
        const QString line = late ? QStringLiteral("NotifyResult after the wait ended, sn=%1")
                                  : QStringLiteral("NotifyResult from the host thread, sn=%1");
        post(late ? kLateAnswerDelay : kThreadAnswerDelay, [text, sn, line] {
            DemoHost::note(line.arg(sn));
            WebViewDataCenter::GetInstance()->NotifyResult(text, sn);
        });
        return true;
    }
    if (mode == QLatin1String("none")) {
        DemoHost::note(QStringLiteral("leaves sn=%1 unanswered").arg(sn));
        return true;
    }
    return false;
}

void RelaySimulation::onHostNotice(const QString& message)
{
    const QJsonObject notice = QJsonDocument::fromJson(message.toUtf8()).object();
    if (notice.value(QLatin1String("cmd")).toString() != QLatin1String("getUserToken"))
        return;
    const QString token
        = QStringLiteral("demo-token-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    post(std::chrono::milliseconds(50), [token] {
        const QJsonObject reply { { QStringLiteral("cmd"), QStringLiteral("userToken") },
                                  { QStringLiteral("data"),
                                    QJsonObject { { QStringLiteral("token"), token } } } };
        DemoHost::note(QStringLiteral("emitInfoNotify userToken %1").arg(token));
        emit WebViewDataCenter::GetInstance()->emitInfoNotify(
            QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Indented)));
    });
}

void RelaySimulation::post(std::chrono::milliseconds delay, std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_tasks.emplace(Clock::now() + delay, std::move(task));
    }
    m_wake.notify_all();
}

void RelaySimulation::run()
{
    Clock::time_point nextTick = m_bTour ? Clock::now() + kTick : Clock::time_point::max();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        Clock::time_point due = nextTick;
        if (!m_tasks.empty() && m_tasks.begin()->first < due)
            due = m_tasks.begin()->first;
        if (due == Clock::time_point::max())
            m_wake.wait(lock);
        else
            m_wake.wait_until(lock, due);
        if (m_stopping)
            break;
        const Clock::time_point now = Clock::now();
        std::vector<std::function<void()>> ready;
        while (!m_tasks.empty() && m_tasks.begin()->first <= now) {
            ready.push_back(std::move(m_tasks.begin()->second));
            m_tasks.erase(m_tasks.begin());
        }
        const bool ticking = now >= nextTick;
        if (ticking)
            nextTick = now + kTick;
        lock.unlock();
        for (auto& task : ready)
            task();
        if (ticking)
            tick();
        lock.lock();
    }
}

void RelaySimulation::tick()
{
    ++m_ticks;
    QRandomGenerator* random = &m_random;

    // One channel of one device changes its state.
    DeviceStatusMap devices = TaviSim::deviceStatus();
    if (!devices.empty()) {
        auto device = devices.begin();
        std::advance(device, random->bounded(int(devices.size())));
        if (!device->second.empty()) {
            auto channel = device->second.begin();
            std::advance(channel, random->bounded(int(device->second.size())));
            const int status = (channel->second + 1) % 3;
            TaviSim::setChannelStatus(device->first, channel->first, status);
            DemoHost::note(QStringLiteral("DevStatusUpdate %1 channel %2 -> %3")
                               .arg(QString::fromStdString(device->first))
                               .arg(channel->first)
                               .arg(status));
            DeviceStatusMap now = TaviSim::deviceStatus();
            WebViewDataCenter::GetInstance()->DevStatusUpdate(now);
        }
    }

    // The data cache: a counter and a text value that need cleaning.
    const QByteArray unread = QByteArray::number(m_ticks % 7);
    WebViewDataCenter::GetInstance()->FuncDataCacheCallback("alarm.unread", unread.constData());
    const QByteArray load = "cpu\t" + QByteArray::number(20 + random->bounded(60)) + "%\r\n";
    WebViewDataCenter::GetInstance()->FuncDataCacheCallback("server.load", load.constData());

    if (m_ticks % 4 == 0) {
        emit WebViewDataCenter::GetInstance()->emitInfoNotify(
            QStringLiteral("{\"cmd\":\"serverNotice\",\n\"data\":{\"text\":\"recording "
                           "schedule synchronised\"}}"));
    }
}

#pragma once

#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QString>
#include <memory>
#include <mutex>

class ControlServer;
class RelaySimulation;

// The simulated host run from a scenario, for tests of pages: the devices at
// the start, a timeline of device states, notices and data-cache values,
// how page notifications are answered (at once, late, never, or when a test
// says so), the server's answers and refusals, and the random tour's seed.
// A test drives it further through the control endpoint. The format is in
// the page guide's testing chapter.
class HostScenario
{
public:
    // Reads a scenario file; an empty error text when it is sound.
    static std::unique_ptr<HostScenario> load(const QString& path, QString* error);
    // Without a file: what the control endpoint needs, the demo's own
    // answers to notifications kept.
    HostScenario();
    ~HostScenario();

    // Whether the random tour runs beside the timeline, and its seed.
    bool tour() const { return m_bTour; }
    quint32 seed() const { return m_nSeed; }

    // Sets the host's devices and starts the steps timed from the host's
    // start ("afterStart") on relay's thread.
    void start(RelaySimulation* relay);
    // The page has loaded for the first time: the steps timed from then
    // ("at") start.
    void pageLoaded();
    // Adds the control requests of the simulated host.
    void addControls(ControlServer* control);
    // A page notification: true when the scenario answers it (or keeps it
    // for a test to answer, or leaves it unanswered).
    bool takeNotification(const QString& msg, const QString& sn);

private:
    struct Rule
    {
        QString match; // a part of the message; empty: every message
        QString mode; // "now", "late", "manual", "never"
        int afterMs = 0;
        QString answer;
    };
    struct Pending
    {
        QString sn;
        QString msg;
    };

    static QString defaultAnswer(const QString& msg);
    // Sets a channel's state and pushes the devices to the pages.
    static void pushDeviceState(const QString& device, int channel, int status);
    static void sendNotice(const QJsonValue& notice);
    // The timeline's steps whose time is under timeKey.
    void postSteps(const QString& timeKey);

    QJsonObject m_scenario;
    bool m_bTour = true;
    quint32 m_nSeed = 0;
    QList<Rule> m_rules;
    RelaySimulation* m_pRelay = nullptr;
    bool m_bPageLoaded = false;
    std::mutex m_mutex;
    QList<Pending> m_pending; // manual answers a test gives
};

#include "HostScenario.h"

#include "ControlServer.h"
#include "DemoHost.h"
#include "RelaySimulation.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <TaviSim.h>
#include <WebViewDataCenter.h>

namespace {

struct ServerRule
{
    int cmd = -1; // -1: any
    QString match;
    TaviSim::ServerAnswer answer;
};

const QStringList kModes { QStringLiteral("now"), QStringLiteral("late"), QStringLiteral("manual"),
                           QStringLiteral("never") };

QString compact(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    return QString::fromUtf8(value.isArray()
                                 ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                 : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

ControlServer::Answer refused(int status, const QString& why)
{
    return { status, { { QStringLiteral("error"), why } } };
}

} // namespace

HostScenario::HostScenario() = default;

HostScenario::~HostScenario()
{
    TaviSim::setServerScript(nullptr);
}

std::unique_ptr<HostScenario> HostScenario::load(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the scenario %1: %2").arg(path, file.errorString());
        return nullptr;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("the scenario %1 is not a JSON object: %2")
                     .arg(path, parseError.errorString());
        return nullptr;
    }
    auto scenario = std::make_unique<HostScenario>();
    const QJsonObject root = document.object();
    scenario->m_scenario = root;
    scenario->m_bTour = root.value(QLatin1String("tour")).toBool(false);
    scenario->m_nSeed = quint32(root.value(QLatin1String("seed")).toInteger(1));

    const QJsonValue devices = root.value(QLatin1String("devices"));
    if (!devices.isUndefined() && !devices.isObject()) {
        *error = QStringLiteral("scenario: \"devices\" is an object of device ids");
        return nullptr;
    }
    const QJsonArray timeline = root.value(QLatin1String("timeline")).toArray();
    for (const QJsonValue& step : timeline) {
        const QJsonObject object = step.toObject();
        const int kinds = int(object.contains(QLatin1String("deviceState")))
            + int(object.contains(QLatin1String("notice")))
            + int(object.contains(QLatin1String("dataCache")));
        const int times = int(object.value(QLatin1String("at")).isDouble())
            + int(object.value(QLatin1String("afterStart")).isDouble());
        if (times != 1 || kinds != 1) {
            *error = QStringLiteral("scenario: each timeline step has \"at\" (milliseconds after "
                                    "the page's load) or \"afterStart\" (after the host's "
                                    "start) and one of \"deviceState\", \"notice\", "
                                    "\"dataCache\": %1")
                         .arg(compact(step));
            return nullptr;
        }
    }
    const QJsonArray notifications = root.value(QLatin1String("notifications")).toArray();
    for (const QJsonValue& value : notifications) {
        const QJsonObject object = value.toObject();
        Rule rule;
        rule.match = object.value(QLatin1String("match")).toString();
        rule.mode = object.value(QLatin1String("mode")).toString(QStringLiteral("now"));
        rule.afterMs = object.value(QLatin1String("afterMs")).toInt(0);
        rule.answer = object.contains(QLatin1String("answer"))
            ? compact(object.value(QLatin1String("answer")))
            : QString();
        if (!kModes.contains(rule.mode)) {
            *error = QStringLiteral("scenario: a notification's \"mode\" is one of %1: %2")
                         .arg(kModes.join(QStringLiteral(", ")), compact(value));
            return nullptr;
        }
        scenario->m_rules.append(rule);
    }
    QList<ServerRule> serverRules;
    for (const QJsonValue& value : root.value(QLatin1String("server")).toArray()) {
        const QJsonObject object = value.toObject();
        ServerRule rule;
        rule.cmd = object.value(QLatin1String("cmd")).toInt(-1);
        rule.match = object.value(QLatin1String("match")).toString();
        rule.answer.refusal = qMin(0, object.value(QLatin1String("refuse")).toInt(0));
        rule.answer.never = object.value(QLatin1String("never")).toBool(false);
        rule.answer.ack = object.value(QLatin1String("ack")).toInt(0);
        rule.answer.body = compact(object.value(QLatin1String("answer"))).toStdString();
        if (object.contains(QLatin1String("refuse")) && rule.answer.refusal == 0) {
            *error = QStringLiteral("scenario: \"refuse\" is a negative status: %1")
                         .arg(compact(value));
            return nullptr;
        }
        serverRules.append(rule);
    }
    if (!serverRules.isEmpty())
        TaviSim::setServerScript([serverRules](int cmd, const std::string& msg, const std::string&,
                                               TaviSim::ServerAnswer& answer) {
            for (const ServerRule& rule : serverRules) {
                if ((rule.cmd >= 0 && rule.cmd != cmd)
                    || !QString::fromStdString(msg).contains(rule.match))
                    continue;
                answer = rule.answer;
                return true;
            }
            return false;
        });
    return scenario;
}

void HostScenario::start(RelaySimulation* relay)
{
    m_pRelay = relay;
    // How long a synchronous notification may wait, as a host sets it.
    if (m_scenario.contains(QLatin1String("notifyWaitLimitMs")))
        WebViewDataCenter::GetInstance()->SetNotifyWaitLimit(
            m_scenario.value(QLatin1String("notifyWaitLimitMs")).toInt());
    const QJsonObject devices = m_scenario.value(QLatin1String("devices")).toObject();
    if (!devices.isEmpty() || m_scenario.contains(QLatin1String("devices"))) {
        DeviceStatusMap map;
        for (auto device = devices.begin(); device != devices.end(); ++device) {
            const QJsonObject channels = device.value().toObject();
            auto& entry = map[device.key().toStdString()];
            for (auto channel = channels.begin(); channel != channels.end(); ++channel)
                entry[channel.key().toInt()] = channel.value().toInt();
        }
        TaviSim::setDeviceStatus(map);
    }
    postSteps(QStringLiteral("afterStart"));
}

void HostScenario::pageLoaded()
{
    if (m_bPageLoaded || !m_pRelay)
        return;
    m_bPageLoaded = true;
    postSteps(QStringLiteral("at"));
}

void HostScenario::postSteps(const QString& timeKey)
{
    for (const QJsonValue& value : m_scenario.value(QLatin1String("timeline")).toArray()) {
        const QJsonObject step = value.toObject();
        if (!step.value(timeKey).isDouble())
            continue;
        const auto at = std::chrono::milliseconds(step.value(timeKey).toInteger());
        m_pRelay->post(at, [step] {
            if (step.contains(QLatin1String("deviceState"))) {
                const QJsonObject state = step.value(QLatin1String("deviceState")).toObject();
                pushDeviceState(state.value(QLatin1String("device")).toString(),
                                state.value(QLatin1String("channel")).toInt(),
                                state.value(QLatin1String("status")).toInt());
            } else if (step.contains(QLatin1String("notice"))) {
                sendNotice(step.value(QLatin1String("notice")));
            } else {
                const QJsonObject cache = step.value(QLatin1String("dataCache")).toObject();
                const QByteArray key = cache.value(QLatin1String("key")).toString().toUtf8();
                const QByteArray text = cache.value(QLatin1String("value")).toString().toUtf8();
                DemoHost::note(QStringLiteral("FuncDataCacheCallback %1 = %2")
                                   .arg(QString::fromUtf8(key), QString::fromUtf8(text)));
                WebViewDataCenter::GetInstance()->FuncDataCacheCallback(key.constData(),
                                                                        text.constData());
            }
        });
    }
}

void HostScenario::pushDeviceState(const QString& device, int channel, int status)
{
    TaviSim::setChannelStatus(device.toStdString(), channel, status);
    DemoHost::note(
        QStringLiteral("DevStatusUpdate %1 channel %2 -> %3").arg(device).arg(channel).arg(status));
    DeviceStatusMap now = TaviSim::deviceStatus();
    WebViewDataCenter::GetInstance()->DevStatusUpdate(now);
}

void HostScenario::sendNotice(const QJsonValue& notice)
{
    const QString text = compact(notice);
    DemoHost::note(QStringLiteral("emitInfoNotify %1").arg(text));
    emit WebViewDataCenter::GetInstance()->emitInfoNotify(text);
}

QString HostScenario::defaultAnswer(const QString& msg)
{
    const QJsonObject answer { { QStringLiteral("ok"), true },
                               { QStringLiteral("answeredBy"), QStringLiteral("demo host") },
                               { QStringLiteral("received"), msg } };
    return QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

bool HostScenario::takeNotification(const QString& msg, const QString& sn)
{
    const auto rule = std::find_if(m_rules.cbegin(), m_rules.cend(),
                                   [&msg](const Rule& r) { return msg.contains(r.match); });
    if (rule == m_rules.cend())
        return false;
    const QString answer = rule->answer.isNull() ? defaultAnswer(msg) : rule->answer;
    if (rule->mode == QLatin1String("now")) {
        QString text = answer;
        QString id = sn;
        WebViewDataCenter::GetInstance()->NotifyResult(text, id);
    } else if (rule->mode == QLatin1String("late") && m_pRelay) {
        m_pRelay->post(std::chrono::milliseconds(rule->afterMs), [answer, sn] {
            DemoHost::note(
                QStringLiteral("NotifyResult after %1, sn=%2").arg(QStringLiteral("a wait"), sn));
            QString text = answer;
            QString id = sn;
            WebViewDataCenter::GetInstance()->NotifyResult(text, id);
        });
    } else if (rule->mode == QLatin1String("manual")) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.append({ sn, msg });
        DemoHost::note(QStringLiteral("sn=%1 waits for the test's answer").arg(sn));
    } else {
        DemoHost::note(QStringLiteral("leaves sn=%1 unanswered").arg(sn));
    }
    return true;
}

void HostScenario::addControls(ControlServer* control)
{
    control->route(QStringLiteral("/push-device-state"), [](const QJsonObject& request) {
        const QString device = request.value(QLatin1String("device")).toString();
        if (device.isEmpty() || !request.value(QLatin1String("channel")).isDouble()
            || !request.value(QLatin1String("status")).isDouble())
            return refused(400,
                           QStringLiteral("needs device (text), channel and status (numbers)"));
        pushDeviceState(device, request.value(QLatin1String("channel")).toInt(),
                        request.value(QLatin1String("status")).toInt());
        return ControlServer::Answer { 200, { { QStringLiteral("pushed"), true } } };
    });
    control->route(QStringLiteral("/notice"), [](const QJsonObject& request) {
        const QJsonValue message = request.value(QLatin1String("message"));
        if (!message.isString() && !message.isObject())
            return refused(400, QStringLiteral("needs message (text or object)"));
        sendNotice(message);
        return ControlServer::Answer { 200, { { QStringLiteral("sent"), true } } };
    });
    control->route(QStringLiteral("/data-cache"), [](const QJsonObject& request) {
        const QByteArray key = request.value(QLatin1String("key")).toString().toUtf8();
        const QByteArray value = request.value(QLatin1String("value")).toString().toUtf8();
        if (key.isEmpty())
            return refused(400, QStringLiteral("needs key and value (texts)"));
        WebViewDataCenter::GetInstance()->FuncDataCacheCallback(key.constData(), value.constData());
        return ControlServer::Answer { 200, { { QStringLiteral("sent"), true } } };
    });
    control->route(QStringLiteral("/pending-notifications"), [this](const QJsonObject&) {
        QJsonArray list;
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Pending& pending : std::as_const(m_pending))
            list.append(QJsonObject { { QStringLiteral("sn"), pending.sn },
                                      { QStringLiteral("msg"), pending.msg } });
        return ControlServer::Answer { 200, { { QStringLiteral("pending"), list } } };
    });
    control->route(QStringLiteral("/answer-notification"), [this](const QJsonObject& request) {
        const QJsonValue answer = request.value(QLatin1String("answer"));
        if (!answer.isString() && !answer.isObject())
            return refused(400, QStringLiteral("needs answer (text or object)"));
        const QString wanted = request.value(QLatin1String("sn")).toString();
        Pending pending;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto it
                = std::find_if(m_pending.begin(), m_pending.end(), [&wanted](const Pending& p) {
                      return wanted.isEmpty() || p.sn == wanted;
                  });
            if (it == m_pending.end())
                return refused(409,
                               wanted.isEmpty()
                                   ? QStringLiteral("no notification waits for an answer")
                                   : QStringLiteral("no notification %1 waits").arg(wanted));
            pending = *it;
            m_pending.erase(it);
        }
        QString text = compact(answer);
        QString sn = pending.sn;
        DemoHost::note(QStringLiteral("NotifyResult from the test, sn=%1").arg(sn));
        WebViewDataCenter::GetInstance()->NotifyResult(text, sn);
        return ControlServer::Answer {
            200, { { QStringLiteral("sn"), pending.sn }, { QStringLiteral("msg"), pending.msg } }
        };
    });
}

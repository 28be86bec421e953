#include "WebViewDataCenter.h"

#include "HostLines.h"
#include "Logging.h"
#include "PageEvents.h"
#include "RequestLine.h"
#include "StatusWriter.h"
#include "TextCleanup.h"
#include "WarningBudget.h"

#include <QtCore/QUuid>
#include <TaviLogic.h>
#include <atomic>
#include <chrono>

WebViewDataCenter::WebViewDataCenter()
    : QObject(nullptr)
{}

WebViewDataCenter::~WebViewDataCenter() = default;

WebViewDataCenter* WebViewDataCenter::GetInstance()
{
    // Constructed once, thread-safely, on first use; destroyed at exit.
    static WebViewDataCenter g_clientInstance;
    return &g_clientInstance;
}

// Each page's web widget hears what its own page sends too (see
// VmsWebWidgets::notifiedHost), right after the host's signal.
int WebViewDataCenter::NotifyToHost(QString& msg, QString& sn)
{
    Q_EMIT emitFuncWebNotify(msg, sn);
    TaviWebModuleInternal::tellNotifyingPage(msg, sn);
    return 0;
}

int WebViewDataCenter::NotifyToHost(const char* message)
{
    QString text = QString::fromUtf8(message);
    Q_EMIT emitFuncInfoCenterNotify(text);
    TaviWebModuleInternal::tellNotifyingPage(text, QString());
    return 0;
}

// ---- Host callbacks ---------------------------------------------------------

using TaviWebModuleInternal::removeLineBreaksAndTabs;

void WebViewDataCenter::FuncResponeCallback(__tagKelCommand* cmd)
{
    if (!cmd) {
        qCDebug(lcWebModule) << "FuncResponeCallback: null command record ignored";
        return;
    }
    const QString sn = QString::fromUtf8(cmd->sn);
    const QString msg = removeLineBreaksAndTabs(QString::fromUtf8(cmd->msg));
    Q_EMIT emitServerRespone(sn, cmd->ack, msg);
}

void WebViewDataCenter::FuncDataCacheCallback(const char* key, const char* value)
{
    // Only the value is cleaned; keys pass as the host named them.
    Q_EMIT emitDataCacheNotify(QString::fromUtf8(key),
                               removeLineBreaksAndTabs(QString::fromUtf8(value)));
}

void WebViewDataCenter::DevStatusUpdate(DeviceStatusMap& status)
{
    TaviWebModuleInternal::writeDeviceStatus(
        status, [this](const QString& text) { Q_EMIT emitDevStatus(text); });
}

int WebViewDataCenter::GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status)
{
    if (ClientData* data = taviClientData())
        data->GetDeviceStatus(ids, status);
    else
        qCDebug(lcWebModule) << "GetDeviceStatus: no host client data, no device reported";
    return 0;
}

// ---- Server requests --------------------------------------------------------

namespace HostLine = TaviWebModuleInternal::HostLine;

namespace {

// The request interface of the host's client SDK, or null with a warning
// naming the caller when the host has none. Every request then fails: the
// host must see why, once a second for each cause, however often a page
// asks.
IRequestSdk* requestSdk(const char* caller)
{
    IClientSdk* clientSdk = TaviLogic::m_ClientSdk;
    IRequestSdk* sdk = clientSdk ? clientSdk->GetRequestSdk() : nullptr;
    if (sdk)
        return sdk;
    if (!clientSdk) {
        if (TaviWebModuleInternal::mayWarn(nullptr, QStringLiteral("requests without a client SDK"),
                                           1))
            qCWarning(lcWebModule) << caller << "no client SDK, request not sent";
    } else if (TaviWebModuleInternal::mayWarn(
                   nullptr, QStringLiteral("requests without the SDK's request interface"), 1)) {
        qCWarning(lcWebModule) << caller << "client SDK has no request interface, request not sent";
    }
    return nullptr;
}

} // namespace

int WebViewDataCenter::RequestToServer(int cmd, const char* msg, const char* sn, char* devid)
{
    // Every page call passes here: the line is not built when nobody takes it.
    if (HostLine::debugEnabled())
        HostLine::debugText(TaviWebModuleInternal::requestLine(cmd, msg, sn, devid));
    IRequestSdk* sdk = requestSdk("RequestToServer:");
    if (!sdk)
        return -1;
    return sdk->SendServerRequest(cmd, msg, sn, devid);
}

int WebViewDataCenter::RequestToServerSync(int cmd, const char* msg, char* devid, int timeout,
                                           QString& result)
{
    HostLine::debug() << "RequestToServerSync:cmd=" << cmd << "devid=" << QString::fromUtf8(devid)
                      << "msg=" << QString::fromUtf8(msg);
    IRequestSdk* sdk = requestSdk("RequestToServerSync:");
    if (!sdk) {
        result.clear();
        return -1;
    }
    std::string answer;
    const int ret = sdk->SendServerRequestSync(cmd, msg, devid, timeout, answer);
    // Up to the first NUL, as a C string reads.
    result = QString::fromUtf8(answer.c_str());
    HostLine::debug() << "RequestToServerSync:result=" << result;
    result = removeLineBreaksAndTabs(result);
    return ret;
}

int WebViewDataCenter::GetDevSessionId(const char* devid, std::string& sessionId)
{
    IRequestSdk* sdk = requestSdk("GetDevSessionId:");
    if (!sdk) {
        sessionId.clear();
        return -1;
    }
    return sdk->QueryDevSessionId(devid, sessionId);
}

// ---- Synchronous host notification -----------------------------------------

namespace {
// Outside the class, so that its layout stays as hosts compiled against it.
std::atomic<int> s_notifyWaitLimitMs { 5000 };
std::atomic<int> s_requestWaitLimitMs { 5000 };
} // namespace

void WebViewDataCenter::SetNotifyWaitLimit(int ms)
{
    s_notifyWaitLimitMs = qMax(0, ms);
}

int WebViewDataCenter::NotifyWaitLimit() const
{
    return s_notifyWaitLimitMs;
}

void WebViewDataCenter::SetRequestWaitLimit(int ms)
{
    s_requestWaitLimitMs = qMax(0, ms);
}

int WebViewDataCenter::RequestWaitLimit() const
{
    return s_requestWaitLimitMs;
}

QString WebViewDataCenter::NotifyToHostEx(QString& msg, int timeout)
{
    QString result;
    // The host gets its own copy of the sn: a handler that changes it must
    // not make this call wait for a key nobody answers.
    const QString key = QUuid::createUuid().toString();
    QString sn = key;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mapNotifyFlag[key] = 0;
    }

    // Not under the lock: the host may answer from inside its handler, or
    // from its page's (with the key: the host's copy may have changed).
    Q_EMIT emitFuncWebNotify(msg, sn);
    TaviWebModuleInternal::tellNotifyingPage(msg, key);

    // Steady clock: a wall-clock change must not stretch or cut the wait.
    // 64-bit arithmetic, so INT_MAX ms cannot overflow.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(qint64(timeout));

    bool answered = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const auto flag = m_mapNotifyFlag.find(key);
            if (flag != m_mapNotifyFlag.end() && flag->second != 0) {
                answered = true;
                break;
            }
            if (Clock::now() >= deadline)
                break;
            m_condition.wait_until(lock, deadline);
        }
        if (answered) {
            const auto answer = m_mapNotifyResult.find(key);
            if (answer != m_mapNotifyResult.end())
                result = answer->second;
        }
        m_mapNotifyFlag.erase(key);
        m_mapNotifyResult.erase(key);
    }
    if (!answered)
        HostLine::debug() << "[NotifyToHostEx]:get respone timeout.";
    return result;
}

void WebViewDataCenter::NotifyResult(QString& msg, QString& sn)
{
    const QString text = removeLineBreaksAndTabs(msg);
    bool awaited = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto flag = m_mapNotifyFlag.find(sn);
        if (flag != m_mapNotifyFlag.end()) {
            flag->second = 1;
            m_mapNotifyResult[sn] = text;
            awaited = true;
        }
    }
    if (awaited) {
        // Every waiter wakes and re-checks its own sn.
        m_condition.notify_all();
        return;
    }
    // Emitted after the lock is released, so that a receiver connected for
    // direct delivery may call NotifyResult or NotifyToHostEx itself.
    Q_EMIT emitInfoNotifyEx(text, sn);
}

#include "WebViewDataCenter.h"

#include "DeviceStatusJson.h"
#include "Logging.h"
#include "TextCleanup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QLoggingCategory>
#include <QtCore/QThreadPool>
#include <QtCore/QUuid>
#include <TaviLogic.h>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>

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

int WebViewDataCenter::NotifyToHost(QString& msg, QString& sn)
{
    Q_EMIT emitFuncWebNotify(msg, sn);
    return 0;
}

int WebViewDataCenter::NotifyToHost(const char* message)
{
    QString text = QString::fromUtf8(message);
    Q_EMIT emitFuncInfoCenterNotify(text);
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

namespace {

// Device status texts of big maps are written on a thread of the module's
// own, one after the other, so that neither the host's thread nor the GUI
// thread waits for them.
struct StatusWriter
{
    // Maps with at most this many channels are written at once, on the
    // caller's thread, as long as none is waiting before them.
    static constexpr size_t kWrittenAtOnce = 4096;

    QThreadPool pool; // one thread: the texts keep the order of the calls
    std::mutex mutex;
    // Texts written or being written that a GUI-thread receiver may not have
    // received yet: one written at once must not overtake them.
    size_t waiting = 0;

    StatusWriter() { pool.setMaxThreadCount(1); }

    static StatusWriter& instance()
    {
        static StatusWriter writer;
        return writer;
    }

    void received()
    {
        std::lock_guard<std::mutex> lock(mutex);
        --waiting;
    }
};

} // namespace

void WebViewDataCenter::DevStatusUpdate(DeviceStatusMap& status)
{
    using TaviWebModuleInternal::deviceStatusJson;
    using TaviWebModuleInternal::DeviceStatusSnapshot;
    StatusWriter& writer = StatusWriter::instance();
    size_t channels = 0;
    for (const auto& device : status)
        channels += device.second.size();
    {
        std::unique_lock<std::mutex> lock(writer.mutex);
        if (writer.waiting == 0 && channels <= StatusWriter::kWrittenAtOnce) {
            lock.unlock();
            Q_EMIT emitDevStatus(deviceStatusJson(status));
            return;
        }
        ++writer.waiting;
    }
    // The host's map is only lent for this call.
    auto snapshot = std::make_shared<const DeviceStatusSnapshot>(status);
    writer.pool.start([this, snapshot]() mutable {
        const QString text = deviceStatusJson(*snapshot);
        snapshot.reset();
        Q_EMIT emitDevStatus(text);
        // Counted as received once the GUI thread has delivered what is
        // queued for it up to here.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { StatusWriter::instance().received(); }, Qt::QueuedConnection);
        else
            StatusWriter::instance().received();
    });
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

namespace {

// The request interface of the host's client SDK, or null with a log line
// naming the caller when the host has none.
IRequestSdk* requestSdk(const char* caller)
{
    IClientSdk* clientSdk = TaviLogic::m_ClientSdk;
    if (!clientSdk) {
        qCDebug(lcWebModule) << caller << "no client SDK, request not sent";
        return nullptr;
    }
    IRequestSdk* sdk = clientSdk->GetRequestSdk();
    if (!sdk)
        qCDebug(lcWebModule) << caller << "client SDK has no request interface, request not sent";
    return sdk;
}

} // namespace

namespace {

// A request line's buffer larger than this is let go after the line.
constexpr qsizetype kKeptLineCapacity = 16 * 1024;

// Appends text as the debug stream writes a QString: in double quotes, with
// the stream's escaping. Printable ASCII, the usual case (JSON included),
// is written here, with quotes and backslashes escaped as the stream does;
// anything else is left to the stream itself, which is many times slower.
// Both loops are free of branches on the bytes: every page call passes here,
// between engine work that leaves the branch predictor nothing of this text
// (a JSON text's quotes then cost a misprediction each).
void appendQuoted(QString& line, const char* utf8)
{
    const qsizetype length = qsizetype(qstrlen(utf8));
    unsigned outside = 0;
    qsizetype escapes = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        outside |= unsigned(c < 0x20) | unsigned(c >= 0x7f);
        escapes += qsizetype(c == '"') + qsizetype(c == '\\');
    }
    if (outside) {
        QDebug(&line) << QString::fromUtf8(utf8, length);
        return;
    }
    // Written in place: the bytes are the characters.
    const qsizetype at = line.size();
    line.resize(at + length + escapes + 3);
    QChar* out = line.data() + at;
    *out++ = u'"';
    for (qsizetype i = 0; i < length; ++i) {
        const char c = utf8[i];
        *out = u'\\';
        out += int(c == '"') | int(c == '\\');
        *out++ = QLatin1Char(c);
    }
    *out++ = u'"';
    *out = u' ';
}

} // namespace

int WebViewDataCenter::RequestToServer(int cmd, const char* msg, const char* sn, char* devid)
{
    // Every page call passes here: the line is built as one text and handed
    // to Qt's message output directly, as qDebug() would (category
    // "default", no context), and not built at all when nobody takes it.
    if (const QLoggingCategory* category = QLoggingCategory::defaultCategory();
        !category || category->isDebugEnabled()) {
        // Kept from call to call: its allocation serves the next line. A
        // handler that kept the text shares it; the next line then detaches.
        thread_local QString line;
        line.resize(0);
        // Only when short: Qt 6.4 reallocates on a reserve() of the capacity
        // the buffer already has, which a run of like calls would do each time.
        const qsizetype needed = 80 + 2 * (qsizetype(qstrlen(msg)) + qstrlen(sn) + qstrlen(devid));
        if (needed > line.capacity())
            line.reserve(needed);
        char number[16];
        const char* digitsEnd = std::to_chars(number, number + sizeof number, cmd).ptr;
        line += QLatin1String("RequestToServer:cmd= ");
        line += QLatin1String(number, digitsEnd);
        line += QLatin1String(" devid= ");
        appendQuoted(line, devid);
        line += QLatin1String("sn= ");
        appendQuoted(line, sn);
        line += QLatin1String("param= ");
        appendQuoted(line, msg);
        line.chop(1); // the stream drops the last separator too
        // A handler's own request line, if it made one, must not rewrite this.
        const QString text = line;
        qt_message_output(QtDebugMsg, QMessageLogContext(nullptr, 0, nullptr, "default"), text);
        if (line.capacity() > kKeptLineCapacity)
            line = QString();
    }
    IRequestSdk* sdk = requestSdk("RequestToServer:");
    if (!sdk)
        return -1;
    return sdk->SendServerRequest(cmd, msg, sn, devid);
}

int WebViewDataCenter::RequestToServerSync(int cmd, const char* msg, char* devid, int timeout,
                                           QString& result)
{
    qDebug() << "RequestToServerSync:cmd=" << cmd << "devid=" << QString::fromUtf8(devid)
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
    qDebug() << "RequestToServerSync:result=" << result;
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
} // namespace

void WebViewDataCenter::SetNotifyWaitLimit(int ms)
{
    s_notifyWaitLimitMs = qMax(0, ms);
}

int WebViewDataCenter::NotifyWaitLimit() const
{
    return s_notifyWaitLimitMs;
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

    // Not under the lock: the host may answer from inside its handler.
    Q_EMIT emitFuncWebNotify(msg, sn);

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
        qDebug() << "[NotifyToHostEx]:get respone timeout.";
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

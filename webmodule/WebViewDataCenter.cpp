#include "WebViewDataCenter.h"

WebViewDataCenter::WebViewDataCenter()
    : QObject(nullptr)
{
}

WebViewDataCenter::~WebViewDataCenter() = default;

WebViewDataCenter* WebViewDataCenter::GetInstance()
{
    // Constructed once, thread-safely, on first use; destroyed at exit.
    static WebViewDataCenter g_clientInstance;
    return &g_clientInstance;
}

int WebViewDataCenter::NotifyToHost(QString& msg, QString& sn)
{
    emit emitFuncWebNotify(msg, sn);
    return 0;
}

int WebViewDataCenter::NotifyToHost(const char* message)
{
    QString text = QString::fromUtf8(message);
    emit emitFuncInfoCenterNotify(text);
    return 0;
}

// ---- Host callbacks ---------------------------------------------------------

void WebViewDataCenter::FuncResponeCallback(__tagKelCommand* cmd)
{
    Q_UNUSED(cmd);
}

void WebViewDataCenter::FuncDataCacheCallback(const char* key, const char* value)
{
    Q_UNUSED(key);
    Q_UNUSED(value);
}

void WebViewDataCenter::DevStatusUpdate(DeviceStatusMap& status)
{
    Q_UNUSED(status);
}

int WebViewDataCenter::GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status)
{
    Q_UNUSED(ids);
    Q_UNUSED(status);
    return 0;
}

// ---- Server requests --------------------------------------------------------

int WebViewDataCenter::RequestToServer(int cmd, const char* msg, const char* sn, char* devid)
{
    Q_UNUSED(cmd);
    Q_UNUSED(msg);
    Q_UNUSED(sn);
    Q_UNUSED(devid);
    return -1;
}

int WebViewDataCenter::RequestToServerSync(int cmd, const char* msg, char* devid, int timeout,
                                           QString& result)
{
    Q_UNUSED(cmd);
    Q_UNUSED(msg);
    Q_UNUSED(devid);
    Q_UNUSED(timeout);
    result.clear();
    return -1;
}

int WebViewDataCenter::GetDevSessionId(const char* devid, std::string& sessionId)
{
    Q_UNUSED(devid);
    sessionId.clear();
    return -1;
}

// ---- Synchronous host notification -----------------------------------------

QString WebViewDataCenter::NotifyToHostEx(QString& msg, int timeout)
{
    Q_UNUSED(msg);
    Q_UNUSED(timeout);
    return QString();
}

void WebViewDataCenter::NotifyResult(QString& msg, QString& sn)
{
    Q_UNUSED(msg);
    Q_UNUSED(sn);
}

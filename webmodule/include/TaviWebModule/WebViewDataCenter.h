#pragma once

#include "taviwebmodule_export.h"

#include <KelCommand.h>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <string>

// The process-wide meeting point of the pages and the host. Host events come
// in as calls and leave as signals, which every open web widget forwards into
// its page. Reach it only through GetInstance(); never delete it.
class TAVIWEBMODULE_EXPORT WebViewDataCenter : public QObject
{
    Q_OBJECT
public:
    // Use GetInstance(); the constructor is public for hosts built against it.
    WebViewDataCenter();
    ~WebViewDataCenter() override;

    // Never null; thread-safe on first use.
    static WebViewDataCenter* GetInstance();

    // Page notification for the host (emitFuncWebNotify); returns 0.
    int NotifyToHost(QString& msg, QString& sn);
    // Host notice (emitFuncInfoCenterNotify), UTF-8; null reads as empty; returns 0.
    int NotifyToHost(const char* message);

    // Host callbacks; may be called on any thread.
    void FuncResponeCallback(__tagKelCommand* cmd);
    // A value of the host's data cache changed: every page gets
    // emitDataCacheNotify(key, value).
    void FuncDataCacheCallback(const char* key, const char* value);
    // Device channels changed: every page gets emitDevStatus with the whole
    // map as JSON.
    void DevStatusUpdate(DeviceStatusMap& status);
    // Fills status with the host's channels of the devices ids; returns 0.
    int GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status);

    // Requests to the client SDK, on the caller's thread.
    int RequestToServer(int cmd, const char* msg, const char* sn, char* devid);
    // Waits for the server's answer, put in result; the SDK's status, -1
    // without an SDK.
    int RequestToServerSync(int cmd, const char* msg, char* devid, int timeout, QString& result);
    // The device's session id in sessionId; the SDK's status, -1 without an SDK.
    int GetDevSessionId(const char* devid, std::string& sessionId);

    // Notifies the host and waits up to timeout ms for NotifyResult with the
    // fresh sn; empty on time-out.
    QString NotifyToHostEx(QString& msg, int timeout);
    // The longest a page's NotifyToHostSync may hold the GUI thread, in ms
    // (default 5000); a page's longer time-out is cut to it. Any thread.
    void SetNotifyWaitLimit(int ms);
    // The limit SetNotifyWaitLimit() set, in ms.
    int NotifyWaitLimit() const;
    // The longest time-out a page's RequestToVmsServerSync may pass to the
    // SDK (default 5000); a page's longer one is cut to it. Any thread.
    // RequestToServerSync itself passes the host's time-out unchanged.
    void SetRequestWaitLimit(int ms);
    // The limit SetRequestWaitLimit() set.
    int RequestWaitLimit() const;

    // The host's answer for sn; any thread. Answers nobody waits for go to
    // the pages as emitInfoNotifyEx.
    void NotifyResult(QString& msg, QString& sn);
    // The same for answers held in constants or temporaries, which the
    // reference form cannot take.
    void NotifyResult(const QString& msg, const QString& sn)
    {
        QString text = msg;
        QString key = sn;
        NotifyResult(text, key);
    }

Q_SIGNALS:
    // A host notice for every page (page function emitInfoNotify).
    void emitInfoNotify(QString message);
    // A host answer nobody waited for (page function emitHostResponse).
    void emitInfoNotifyEx(QString message, QString sn);
    // The device status JSON for every page (page function emitDevStatus).
    void emitDevStatus(QString msg);
    // A data cache change for every page (page function emitDataCacheNotify).
    void emitDataCacheNotify(QString key, QString value);
    // A server answer for every page (page function emitServerRespone).
    void emitServerRespone(QString sn, int ack, QString msg);
    // Reference arguments: the host must connect these for direct delivery.
    void emitFuncWebNotify(QString& msg, QString& sn);
    // A host notice in indented JSON {"cmd", "data"}, for the host.
    void emitFuncInfoCenterNotify(QString& message);

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::map<QString, int> m_mapNotifyFlag;
    std::map<QString, QString> m_mapNotifyResult;
};

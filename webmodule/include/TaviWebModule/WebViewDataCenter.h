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
    void FuncDataCacheCallback(const char* key, const char* value);
    void DevStatusUpdate(DeviceStatusMap& status);
    int GetDeviceStatus(std::list<std::string>& ids, DeviceStatusMap& status);

    // Requests to the client SDK, on the caller's thread.
    int RequestToServer(int cmd, const char* msg, const char* sn, char* devid);
    int RequestToServerSync(int cmd, const char* msg, char* devid, int timeout, QString& result);
    int GetDevSessionId(const char* devid, std::string& sessionId);

    // Notifies the host and waits up to timeout ms for NotifyResult with the
    // fresh sn; empty on time-out.
    QString NotifyToHostEx(QString& msg, int timeout);
    // The longest a page's NotifyToHostSync may hold the GUI thread, in ms
    // (default 5000); a page's longer time-out is cut to it. Any thread.
    void SetNotifyWaitLimit(int ms);
    int NotifyWaitLimit() const;

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
    void emitInfoNotify(QString message);
    void emitInfoNotifyEx(QString message, QString sn);
    void emitDevStatus(QString msg);
    void emitDataCacheNotify(QString key, QString value);
    void emitServerRespone(QString sn, int ack, QString msg);
    // Reference arguments: the host must connect these for direct delivery.
    void emitFuncWebNotify(QString& msg, QString& sn);
    void emitFuncInfoCenterNotify(QString& message);

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::map<QString, int> m_mapNotifyFlag;
    std::map<QString, QString> m_mapNotifyResult;
};

#pragma once

// Recording fakes of the host's client SDK. A test installs one through
// TaviLogic::m_ClientSdk (SdkInstaller), exactly where the module reads it,
// and asserts on what was sent.

#include <ClientSdk.h>
#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <TaviLogic.h>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct FakeRequest
{
    int cmd = 0;
    QByteArray msg; // bytes as received; isNull() when the pointer was null
    QByteArray sn;
    QByteArray devid;
    int timeout = 0;
    bool sync = false;
};

class FakeRequestSdk : public IRequestSdk
{
public:
    int SendServerRequest(int cmd, const char* msg, const char* sn, char* devid) override
    {
        record({ cmd, msg, sn, devid, 0, false });
        return asyncResult;
    }
    int SendServerRequestSync(int cmd, const char* msg, char* devid, int timeout,
                              std::string& result) override
    {
        record({ cmd, msg, {}, devid, timeout, true });
        // A server that never answers in time: the SDK waits its time-out.
        if (syncWaitsUpToMs > 0)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(qBound(0, timeout, syncWaitsUpToMs)));
        result = syncAnswer;
        return syncResult;
    }
    int CancelServerRequest(const char*) override { return -1; }
    int QueryDevSessionId(const char* devid, std::string& sessionId) override
    {
        record({ 0, {}, {}, devid, 0, false });
        sessionId = sessionIdAnswer;
        return sessionId.empty() ? -1 : 0;
    }

    QList<FakeRequest> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

    int asyncResult = 0;
    int syncResult = 0;
    std::string syncAnswer;
    std::string sessionIdAnswer;
    // When set, each synchronous request sleeps its time-out, at most this long.
    int syncWaitsUpToMs = 0;
    // Called after each asynchronous request is recorded (e.g. to answer it).
    std::function<void(const FakeRequest&)> onRequest;

private:
    void record(const FakeRequest& r)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.append(r);
        }
        if (onRequest && !r.sync)
            onRequest(r);
    }
    mutable std::mutex m_mutex;
    QList<FakeRequest> m_requests;
};

struct FakeStreamCall
{
    QByteArray op; // operation name, e.g. "StartFilePlayback"
    int handle = -1;
    int value = 0; // seek position, or the preset handle of a start
    QByteArray path; // start: the UTF-8 path; isNull() for a null pointer
    WId wnd = 0;
    int reserved = -1;
};

class FakeStreamSdk : public IStreamSdk
{
public:
    int PauseFilePlayback(int handle) override { return log("PauseFilePlayback", handle); }
    int ResumeFilePlayback(int handle) override { return log("ResumeFilePlayback", handle); }
    int SeekFilePlayback(int handle, int pos) override
    {
        return log("SeekFilePlayback", handle, pos);
    }
    int OpenSound(int handle) override { return log("OpenSound", handle, 0, openSoundResult); }
    int CloseSound(int handle) override { return log("CloseSound", handle); }
    int StartFilePlayback(const char* path, WId wnd, int* handle, int reserved) override
    {
        calls.append(
            { "StartFilePlayback", startHandle, handle ? *handle : -999, path, wnd, reserved });
        if (handle)
            *handle = startHandle;
        return startResult;
    }
    int StopFilePlayback(int handle) override { return log("StopFilePlayback", handle); }
    int GetFilePlaybackPos(int handle, int* pos, int* total) override
    {
        if (posResult == 0) {
            *pos = position;
            *total = length;
        }
        return log("GetFilePlaybackPos", handle, 0, posResult);
    }
    int SetPlaybackSpeed(int handle, int speed) override
    {
        return log("SetPlaybackSpeed", handle, speed);
    }

    QList<QByteArray> ops() const
    {
        QList<QByteArray> out;
        for (const FakeStreamCall& c : calls)
            out << c.op;
        return out;
    }
    int count(const QByteArray& op) const { return int(ops().count(op)); }

    QList<FakeStreamCall> calls;
    int startResult = 0;
    int startHandle = 7;
    int openSoundResult = 0;
    int posResult = 0;
    int position = 0;
    int length = 0;

private:
    int log(const char* op, int handle, int value = 0, int result = 0)
    {
        calls.append({ op, handle, value, {}, 0, -1 });
        return result;
    }
};

class FakeClientSdk : public IClientSdk
{
public:
    IStreamSdk* GetStreamSdk() override { return streamAvailable ? &stream : nullptr; }
    IRequestSdk* GetRequestSdk() override { return requestAvailable ? &request : nullptr; }
    int GetVersion() override { return 1; }

    FakeRequestSdk request;
    FakeStreamSdk stream;
    bool streamAvailable = true;
    bool requestAvailable = true;
};

// Installs sdk as the host's client SDK for the lifetime of this object and
// puts the previous one back afterwards.
class SdkInstaller
{
public:
    explicit SdkInstaller(IClientSdk* sdk)
        : m_previous(TaviLogic::m_ClientSdk)
    {
        TaviLogic::m_ClientSdk = sdk;
    }
    ~SdkInstaller() { TaviLogic::m_ClientSdk = m_previous; }
    SdkInstaller(const SdkInstaller&) = delete;
    SdkInstaller& operator=(const SdkInstaller&) = delete;

private:
    IClientSdk* m_previous;
};

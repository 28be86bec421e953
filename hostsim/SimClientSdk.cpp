#include "SimClientSdk.h"

#include "TaviLogic.h"

#include <QtCore/QByteArray>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <algorithm>
#include <cstring>

namespace TaviSim {

namespace {

std::string fromC(const char* text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

// ---------------------------------------------------------------------------
// Requests

SimRequestSdk::SimRequestSdk()
    : m_worker([this] { run(); })
{ }

SimRequestSdk::~SimRequestSdk()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        // Answers still queued at shutdown would reach handlers whose owners
        // may already be gone.
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_worker.joinable()) {
        // A handler that ends the process runs on the worker itself.
        if (m_worker.get_id() == std::this_thread::get_id())
            m_worker.detach();
        else
            m_worker.join();
    }
}

bool SimRequestSdk::isKnownCommand(int cmd)
{
    return cmd >= 1 && cmd <= 9999;
}

std::string SimRequestSdk::answerBody(int cmd, const std::string& msg, const std::string& devid)
{
    const QJsonObject body {
        { QStringLiteral("cmd"), cmd },
        { QStringLiteral("devid"), QString::fromStdString(devid) },
        { QStringLiteral("request"), QString::fromStdString(msg) },
        { QStringLiteral("result"),
            isKnownCommand(cmd) ? QStringLiteral("ok") : QStringLiteral("unknown command") },
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
}

int SimRequestSdk::SendServerRequest(int cmd, const char* msg, const char* sn, char* devid)
{
    if (cmd < 0)
        return -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return -1;
        m_jobs.push_back(Job { cmd, fromC(msg), fromC(sn), fromC(devid) });
    }
    m_wake.notify_one();
    return 0;
}

int SimRequestSdk::SendServerRequestSync(
    int cmd, const char* msg, char* devid, int /*timeout*/, std::string& result)
{
    result.clear();
    if (cmd < 0)
        return -1;
    result = answerBody(cmd, fromC(msg), fromC(devid));
    return 0;
}

int SimRequestSdk::CancelServerRequest(const char* /*sn*/)
{
    return -1;
}

int SimRequestSdk::QueryDevSessionId(const char* devid, std::string& sessionId)
{
    sessionId.clear();
    const std::string id = fromC(devid);
    if (id.empty())
        return -1;
    const DeviceStatusMap devices = deviceStatus();
    if (devices.find(id) == devices.end())
        return -1;
    sessionId = "sess-" + id;
    return 0;
}

void SimRequestSdk::setResponseHandler(ResponseHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void SimRequestSdk::setLatency(std::chrono::milliseconds latency)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latency = latency;
}

void SimRequestSdk::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();

        // Sleep on the condition so that shutdown does not wait the latency out.
        if (m_latency.count() > 0
            && m_wake.wait_for(lock, m_latency, [this] { return m_stopping; }))
            return;

        lock.unlock();
        answer(job);
        lock.lock();
    }
}

void SimRequestSdk::answer(Job& job)
{
    ResponseHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    if (!handler)
        return;

    // The record points into buffers owned here; they live until the handler
    // returns, as the host's own record does.
    std::string body = answerBody(job.cmd, job.msg, job.devid);
    __tagKelCommand record;
    std::memset(&record, 0, sizeof(record));
    record.sn = job.sn.data();
    record.msg = body.data();
    record.ack = isKnownCommand(job.cmd) ? 0 : -1;
    handler(&record);
}

// ---------------------------------------------------------------------------
// Streams

int SimStreamSdk::positionOf(const Playback& playback, Clock::time_point now)
{
    if (playback.paused)
        return playback.basePos;
    const auto elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(now - playback.anchor).count();
    return static_cast<int>(std::min<long long>(playback.total, playback.basePos + elapsed));
}

int SimStreamSdk::StartFilePlayback(const char* path, WId /*wnd*/, int* handle, int /*reserved*/)
{
    if (!handle)
        return -1;
    if (!path || !*path || !QFileInfo(QString::fromUtf8(path)).isFile())
        return -2;

    std::lock_guard<std::mutex> lock(m_mutex);
    Playback playback;
    playback.anchor = Clock::now();
    const int newHandle = m_nextHandle++;
    m_playbacks.emplace(newHandle, playback);
    *handle = newHandle;
    return 0;
}

int SimStreamSdk::StopFilePlayback(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_playbacks.erase(handle) ? 0 : -1;
}

int SimStreamSdk::PauseFilePlayback(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    Playback& playback = it->second;
    if (!playback.paused) {
        playback.basePos = positionOf(playback, Clock::now());
        playback.paused = true;
    }
    return 0;
}

int SimStreamSdk::ResumeFilePlayback(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    Playback& playback = it->second;
    if (playback.paused) {
        playback.anchor = Clock::now();
        playback.paused = false;
    }
    return 0;
}

int SimStreamSdk::SeekFilePlayback(int handle, int pos)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    Playback& playback = it->second;
    playback.basePos = std::clamp(pos, 0, playback.total);
    playback.anchor = Clock::now();
    return 0;
}

int SimStreamSdk::OpenSound(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    it->second.sound = true;
    return 0;
}

int SimStreamSdk::CloseSound(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    it->second.sound = false;
    return 0;
}

int SimStreamSdk::GetFilePlaybackPos(int handle, int* pos, int* total)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    if (pos)
        *pos = positionOf(it->second, Clock::now());
    if (total)
        *total = it->second.total;
    return 0;
}

int SimStreamSdk::SetPlaybackSpeed(int /*handle*/, int /*speed*/)
{
    // The clock only plays at normal speed.
    return -1;
}

// ---------------------------------------------------------------------------

SimClientSdk::~SimClientSdk()
{
    // Code running at exit reads the pointer at each use; it must not find a
    // destroyed SDK there.
    if (TaviLogic::m_ClientSdk == this)
        TaviLogic::m_ClientSdk = nullptr;
}

int SimClientSdk::GetVersion()
{
    return 10000; // 1.0.0
}

SimClientSdk& simClientSdk()
{
    static SimClientSdk sdk;
    return sdk;
}

IClientSdk* clientSdk()
{
    return &simClientSdk();
}

void installClientSdk()
{
    TaviLogic::m_ClientSdk = &simClientSdk();
}

void setResponseHandler(ResponseHandler handler)
{
    simClientSdk().request().setResponseHandler(std::move(handler));
}

} // namespace TaviSim

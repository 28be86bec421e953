#pragma once

// The simulated client SDK behind TaviSim::clientSdk(). Private to
// libTaviLogic: the module and the demo only see IClientSdk.

#include "ClientSdk.h"
#include "TaviSim.h"

#include <QtCore/QPointer>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace TaviSim {

// Requests are answered by the simulated server: every known command succeeds
// and echoes the request, so pages see real round trips without a server.
class SimRequestSdk : public IRequestSdk
{
public:
    SimRequestSdk();
    ~SimRequestSdk() override;

    SimRequestSdk(const SimRequestSdk&) = delete;
    SimRequestSdk& operator=(const SimRequestSdk&) = delete;

    int SendServerRequest(int cmd, const char* msg, const char* sn, char* devid) override;
    int SendServerRequestSync(int cmd, const char* msg, char* devid, int timeout,
                              std::string& result) override;
    int CancelServerRequest(const char* sn) override;
    int QueryDevSessionId(const char* devid, std::string& sessionId) override;

    void setResponseHandler(ResponseHandler handler);
    void setServerScript(ServerScript script);
    // Delay before each asynchronous answer, as a network would add one.
    void setLatency(std::chrono::milliseconds latency);

    // The answer body the simulated server gives for a request.
    static std::string answerBody(int cmd, const std::string& msg, const std::string& devid);
    // The simulated server understands this command range only.
    static bool isKnownCommand(int cmd);

private:
    struct Job
    {
        int cmd = 0;
        std::string msg;
        std::string sn;
        std::string devid;
        bool scripted = false;
        ServerAnswer answer;
    };

    void run();
    void answer(Job& job);
    // What the script (if any) says about a request; false: no script answer.
    bool scripted(int cmd, const std::string& msg, const std::string& devid, ServerAnswer& answer);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::chrono::milliseconds m_latency { 5 };
    ResponseHandler m_handler;
    ServerScript m_script;
    // Last, so that everything above exists while the worker runs.
    std::thread m_worker;
};

class FilePlayer;

// Plays a file for real when the render window is a widget of this process:
// Qt Multimedia decodes it and its frames are painted into that window, and
// positions and lengths are in milliseconds. Otherwise, and when the file
// cannot be decoded, a clock stands in: the file "plays" for kTotalMs while
// not paused. Real playbacks answer on the GUI thread only.
class SimStreamSdk : public IStreamSdk
{
public:
    static constexpr int kTotalMs = 30000;

    int PauseFilePlayback(int handle) override;
    int ResumeFilePlayback(int handle) override;
    int SeekFilePlayback(int handle, int pos) override;
    // -1 when the file has no sound or there is no audio device.
    int OpenSound(int handle) override;
    int CloseSound(int handle) override;
    int StartFilePlayback(const char* path, WId wnd, int* handle, int reserved) override;
    int StopFilePlayback(int handle) override;
    int GetFilePlaybackPos(int handle, int* pos, int* total) override;
    int SetPlaybackSpeed(int handle, int speed) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Playback
    {
        // The clock, kept in step with every call also while a player runs,
        // so that it can take over when the player fails.
        int total = kTotalMs;
        int basePos = 0; // position at anchor
        Clock::time_point anchor; // when basePos was taken
        bool paused = false;
        bool sound = false;
        // Null for a clock-only playback, or once the player gave up.
        QPointer<FilePlayer> player;
    };

    static int positionOf(const Playback& playback, Clock::time_point now);
    // The playback's player while it still plays, else null (the clock).
    static FilePlayer* livePlayer(const Playback& playback);
    // Under the lock: fn(Playback&)'s result, or -1 for an unknown handle.
    // fn may erase the entry as its last use of it.
    template<typename Fn> int withPlayback(int handle, Fn&& fn);

    std::mutex m_mutex;
    std::map<int, Playback> m_playbacks;
    int m_nextHandle = 0;
};

class SimClientSdk : public IClientSdk
{
public:
    SimClientSdk() = default;
    ~SimClientSdk() override;

    SimClientSdk(const SimClientSdk&) = delete;
    SimClientSdk& operator=(const SimClientSdk&) = delete;

    IStreamSdk* GetStreamSdk() override { return &m_stream; }
    IRequestSdk* GetRequestSdk() override { return &m_request; }
    int GetVersion() override;

    SimRequestSdk& request() { return m_request; }

private:
    SimStreamSdk m_stream;
    SimRequestSdk m_request;
};

// The process-wide instance, with its concrete type.
SimClientSdk& simClientSdk();

} // namespace TaviSim

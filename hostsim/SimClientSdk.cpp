#include "SimClientSdk.h"

#include "TaviLogic.h"

#include <QtCore/QByteArray>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <QtCore/QThread>
#include <QtCore/QUrl>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtMultimedia/QAudioDevice>
#include <QtMultimedia/QAudioOutput>
#include <QtMultimedia/QMediaDevices>
#include <QtMultimedia/QMediaPlayer>
#include <QtMultimedia/QVideoFrame>
#include <QtMultimedia/QVideoSink>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <algorithm>
#include <cstring>
#include <limits>

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
{}

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
    Job job { cmd, fromC(msg), fromC(sn), fromC(devid), false, {} };
    job.scripted = scripted(cmd, job.msg, job.devid, job.answer);
    if (job.scripted && job.answer.refusal < 0)
        return job.answer.refusal;
    if (job.scripted && job.answer.never)
        return 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return -1;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return 0;
}

int SimRequestSdk::SendServerRequestSync(int cmd, const char* msg, char* devid, int /*timeout*/,
                                         std::string& result)
{
    result.clear();
    if (cmd < 0)
        return -1;
    ServerAnswer answer;
    if (scripted(cmd, fromC(msg), fromC(devid), answer)) {
        if (answer.refusal < 0)
            return answer.refusal;
        // No answer within the time-out.
        if (answer.never)
            return -1;
        result = answer.body;
        return 0;
    }
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

void SimRequestSdk::setServerScript(ServerScript script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = std::move(script);
}

bool SimRequestSdk::scripted(int cmd, const std::string& msg, const std::string& devid,
                             ServerAnswer& answer)
{
    ServerScript script;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        script = m_script;
    }
    return script && script(cmd, msg, devid, answer);
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
    std::string body = job.scripted ? job.answer.body : answerBody(job.cmd, job.msg, job.devid);
    __tagKelCommand record;
    std::memset(&record, 0, sizeof(record));
    record.sn = job.sn.data();
    record.msg = body.data();
    record.ack = job.scripted ? job.answer.ack : isKnownCommand(job.cmd) ? 0 : -1;
    handler(&record);
}

// ---------------------------------------------------------------------------
// Streams

// One file decoded by Qt Multimedia and painted into the host's render
// window, as the real SDK draws into the window it is given. A video widget
// laid over that window would be a window of its own that the screen does
// not show on X11. A QObject child of the window: it stops when the window
// goes, and never outlives the application. Gives up, and leaves the playback
// to the clock, when the file cannot be decoded.
class FilePlayer : public QObject
{
public:
    FilePlayer(const QString& path, QWidget* window)
        : QObject(window)
        , m_window(window)
    {
        m_player = new QMediaPlayer(this);
        // Some back ends crash when they render sound with no device; without
        // one the file plays silent and OpenSound says so.
        if (!QMediaDevices::defaultAudioOutput().isNull()) {
            m_audio = new QAudioOutput(this);
            m_audio->setMuted(true); // sound starts closed, as the host's SDK does
            m_player->setAudioOutput(m_audio);
        }
        auto* sink = new QVideoSink(this);
        connect(sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
            m_frame = frame.toImage();
            if (m_window)
                m_window->update();
        });
        m_player->setVideoOutput(sink);
        window->installEventFilter(this);

        connect(m_player, &QMediaPlayer::errorOccurred, this, [this] { giveUp(); });
        connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
                [this](QMediaPlayer::MediaStatus status) { checkMedia(status); });
        m_player->setSource(QUrl::fromLocalFile(path));
        checkMedia(m_player->mediaStatus()); // some back ends load at once
        m_player->play();
    }

    ~FilePlayer() override
    {
        m_player->stop();
        m_player->setVideoOutput(nullptr);
        if (m_window)
            m_window->update(); // back to the window's own background
    }

    bool failed() const { return m_failed; }

    int position() const
    {
        // At the end the decoder stops a frame short of the length.
        const qint64 pos = m_player->mediaStatus() == QMediaPlayer::EndOfMedia
            ? m_player->duration()
            : m_player->position();
        return static_cast<int>(std::clamp<qint64>(pos, 0, std::numeric_limits<int>::max()));
    }
    int duration() const
    {
        return static_cast<int>(
            std::clamp<qint64>(m_player->duration(), 0, std::numeric_limits<int>::max()));
    }

    void pause() { m_player->pause(); }
    void resume() { m_player->play(); }
    void seek(int pos, bool paused)
    {
        m_player->setPosition(pos);
        // After the end the player has stopped; a seek plays on from there.
        if (!paused && m_player->playbackState() != QMediaPlayer::PlayingState)
            m_player->play();
    }
    int openSound()
    {
        if (!m_audio || !m_player->hasAudio())
            return -1;
        m_audio->setMuted(false);
        return 0;
    }
    void closeSound()
    {
        if (m_audio)
            m_audio->setMuted(true);
    }

protected:
    // Paints the last frame over the window's background, scaled to fit.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window || event->type() != QEvent::Paint || m_frame.isNull())
            return QObject::eventFilter(watched, event);
        QSize size = m_frame.size();
        size.scale(m_window->size(), Qt::KeepAspectRatio);
        QRect target(QPoint(0, 0), size);
        target.moveCenter(m_window->rect().center());
        QPainter painter(m_window);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_frame);
        return true;
    }

private:
    void checkMedia(QMediaPlayer::MediaStatus status)
    {
        if (status == QMediaPlayer::InvalidMedia) {
            giveUp();
        } else if ((status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia)
                   && !m_player->hasVideo() && !(m_player->hasAudio() && m_audio)) {
            // Nothing to show and nothing to hear: the decoder would not
            // advance, so the clock plays the file instead.
            giveUp();
        }
    }

    void giveUp()
    {
        if (m_failed)
            return;
        m_failed = true;
        // Signals may arrive from inside setSource(); leave the call first.
        deleteLater();
    }

    QPointer<QWidget> m_window;
    QImage m_frame;
    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audio = nullptr;
    bool m_failed = false;
};

namespace {

// A widget of this process behind wnd, when it may be used from here.
QWidget* renderWidget(WId wnd)
{
    if (!wnd || !qobject_cast<QApplication*>(QCoreApplication::instance())
        || QThread::currentThread() != QCoreApplication::instance()->thread())
        return nullptr;
    return QWidget::find(wnd);
}

} // namespace

int SimStreamSdk::positionOf(const Playback& playback, Clock::time_point now)
{
    if (playback.paused)
        return playback.basePos;
    const auto elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(now - playback.anchor).count();
    return static_cast<int>(std::min<long long>(playback.total, playback.basePos + elapsed));
}

FilePlayer* SimStreamSdk::livePlayer(const Playback& playback)
{
    FilePlayer* player = playback.player.data();
    return player && !player->failed() ? player : nullptr;
}

template<typename Fn> int SimStreamSdk::withPlayback(int handle, Fn&& fn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_playbacks.find(handle);
    if (it == m_playbacks.end())
        return -1;
    return fn(it->second);
}

int SimStreamSdk::StartFilePlayback(const char* path, WId wnd, int* handle, int /*reserved*/)
{
    if (!handle)
        return -1;
    const QString file = path ? QString::fromUtf8(path) : QString();
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return -2;

    // Created outside the lock: the player may report back at once.
    QWidget* window = renderWidget(wnd);
    FilePlayer* player = window ? new FilePlayer(file, window) : nullptr;

    std::lock_guard<std::mutex> lock(m_mutex);
    Playback playback;
    playback.anchor = Clock::now();
    playback.player = player;
    const int newHandle = m_nextHandle++;
    m_playbacks.emplace(newHandle, playback);
    *handle = newHandle;
    return 0;
}

int SimStreamSdk::StopFilePlayback(int handle)
{
    QPointer<FilePlayer> player;
    const int result = withPlayback(handle, [&](Playback& playback) {
        player = playback.player;
        m_playbacks.erase(handle);
        return 0;
    });
    delete player.data();
    return result;
}

int SimStreamSdk::PauseFilePlayback(int handle)
{
    return withPlayback(handle, [](Playback& playback) {
        if (!playback.paused) {
            playback.basePos = positionOf(playback, Clock::now());
            playback.paused = true;
            if (FilePlayer* player = livePlayer(playback))
                player->pause();
        }
        return 0;
    });
}

int SimStreamSdk::ResumeFilePlayback(int handle)
{
    return withPlayback(handle, [](Playback& playback) {
        if (playback.paused) {
            playback.anchor = Clock::now();
            playback.paused = false;
            if (FilePlayer* player = livePlayer(playback))
                player->resume();
        }
        return 0;
    });
}

int SimStreamSdk::SeekFilePlayback(int handle, int pos)
{
    return withPlayback(handle, [pos](Playback& playback) {
        playback.basePos = std::clamp(pos, 0, playback.total);
        playback.anchor = Clock::now();
        if (FilePlayer* player = livePlayer(playback)) {
            const int length = player->duration();
            player->seek(length > 0 ? std::clamp(pos, 0, length) : std::max(pos, 0),
                         playback.paused);
        }
        return 0;
    });
}

int SimStreamSdk::OpenSound(int handle)
{
    return withPlayback(handle, [](Playback& playback) {
        if (FilePlayer* player = livePlayer(playback)) {
            if (player->openSound() != 0)
                return -1;
        }
        playback.sound = true;
        return 0;
    });
}

int SimStreamSdk::CloseSound(int handle)
{
    return withPlayback(handle, [](Playback& playback) {
        if (FilePlayer* player = livePlayer(playback))
            player->closeSound();
        playback.sound = false;
        return 0;
    });
}

int SimStreamSdk::GetFilePlaybackPos(int handle, int* pos, int* total)
{
    return withPlayback(handle, [pos, total](const Playback& playback) {
        int current = 0;
        int length = 0;
        if (const FilePlayer* player = livePlayer(playback)) {
            // Both 0 while the decoder does not know the length yet.
            length = player->duration();
            current = length > 0 ? std::min(player->position(), length) : 0;
        } else {
            current = positionOf(playback, Clock::now());
            length = playback.total;
        }
        if (pos)
            *pos = current;
        if (total)
            *total = length;
        return 0;
    });
}

int SimStreamSdk::SetPlaybackSpeed(int /*handle*/, int /*speed*/)
{
    // Playback runs at normal speed only.
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

void setServerScript(ServerScript script)
{
    simClientSdk().request().setServerScript(std::move(script));
}

} // namespace TaviSim

// The simulated host libraries: the module's tests and the demo lean on them,
// so they must behave like the host wherever the module can tell.

#include "TestSupport.h"

#include <QtCore/QTemporaryFile>
#include <TaviSim.h>
#include <condition_variable>
#include <tuple>
#include <vector>

namespace {

// The answer body that echoes a request.
void checkBody(const std::string& json, int cmd, const char* msg, const char* devid)
{
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    QCOMPARE(body["cmd"].toInt(-1), cmd);
    QCOMPARE(body["devid"].toString(), QString::fromUtf8(devid));
    QCOMPARE(body["request"].toString(), QString::fromUtf8(msg));
    QCOMPARE(body["result"].toString(), QString::fromLatin1(cmd == 0 ? "unknown command" : "ok"));
}

// Shared with the handler, so that a late answer never touches a dead test.
struct Answers
{
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::tuple<std::thread::id, int, QByteArray, QByteArray>> list; // ack, sn, msg
};

} // namespace

class TestHostSim : public QObject
{
    Q_OBJECT
    IRequestSdk* request() { return TaviSim::clientSdk()->GetRequestSdk(); }
    IStreamSdk* stream() { return TaviSim::clientSdk()->GetStreamSdk(); }

private slots:
    // Answers come from a worker thread in request order; the body echoes the
    // request (command 0 is unknown, odd ones carry null texts).
    void asyncAnswersInOrderOffCallerThread()
    {
        const auto answers = std::make_shared<Answers>();
        TaviSim::setResponseHandler([answers](__tagKelCommand* cmd) {
            std::lock_guard<std::mutex> lock(answers->mutex);
            answers->list.emplace_back(std::this_thread::get_id(), cmd->ack, cmd->sn, cmd->msg);
            answers->arrived.notify_all();
        });
        char devid[] = "nvr-01";
        for (int i = 0; i < 20; ++i)
            QCOMPARE(request()->SendServerRequest(i, i % 2 ? nullptr : "Tür ✓",
                                                  QByteArray::number(i).constData(),
                                                  i % 2 ? nullptr : devid),
                     0);
        std::unique_lock<std::mutex> lock(answers->mutex);
        QVERIFY(answers->arrived.wait_for(lock, std::chrono::seconds(5),
                                          [&] { return answers->list.size() >= 20; }));
        TaviSim::setResponseHandler(nullptr);
        for (int i = 0; i < 20; ++i) {
            const auto& [thread, ack, sn, msg] = answers->list[i];
            QVERIFY(thread != std::this_thread::get_id());
            QCOMPARE(ack, i == 0 ? -1 : 0);
            QCOMPARE(sn, QByteArray::number(i));
            checkBody(msg.toStdString(), i, i % 2 ? "" : "Tür ✓", i % 2 ? "" : "nvr-01");
        }
    }

    void syncAnswersAndSessionIds()
    {
        char devid[] = "door-02";
        std::string text = "stale";
        QCOMPARE(request()->SendServerRequestSync(8, "Tür ✓", devid, 300, text), 0);
        checkBody(text, 8, "Tür ✓", "door-02");
        QCOMPARE(request()->SendServerRequestSync(0, nullptr, nullptr, 300, text), 0);
        checkBody(text, 0, "", "");
        QCOMPARE(request()->QueryDevSessionId("nvr-01", text), 0);
        QCOMPARE(text, "sess-nvr-01");
        for (const char* unknown : { "nvr-99", "", static_cast<const char*>(nullptr) }) {
            text = "stale";
            QCOMPARE(request()->QueryDevSessionId(unknown, text), -1);
            QVERIFY(text.empty());
        }
    }

    // Without a window to decode into, the stream is a clock 30 s long.
    void playbackClock()
    {
        int handle = 4242, pos = -1, total = -1, first = -1;
        QCOMPARE(stream()->StartFilePlayback("/nonexistent/clip.mp4", 0, &handle, 0), -2);
        QCOMPARE(handle, 4242);
        QTemporaryFile clip;
        QVERIFY(clip.open());
        QCOMPARE(stream()->StartFilePlayback(clip.fileName().toUtf8().constData(), 0, &handle, 0),
                 0);
        QVERIFY(handle >= 0 && handle != 4242);
        QCOMPARE(stream()->OpenSound(handle), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &first, &total), 0);
        QCOMPARE(total, 30000);
        QTRY_VERIFY(stream()->GetFilePlaybackPos(handle, &pos, &total) == 0 && pos > first);

        QCOMPARE(stream()->PauseFilePlayback(handle), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &first, &total), 0);
        QTest::qWait(60);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
        QCOMPARE(pos, first);
        // Paused, so each seek reads back exactly, clamped to the stream.
        for (const auto& [to, expected] :
             { std::pair { -500, 0 }, { 1234, 1234 }, { 999999, 30000 } }) {
            QCOMPARE(stream()->SeekFilePlayback(handle, to), 0);
            QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), 0);
            QCOMPARE(pos, expected);
        }
        QCOMPARE(stream()->StopFilePlayback(handle), 0);
        QCOMPARE(stream()->GetFilePlaybackPos(handle, &pos, &total), -1);
    }
};

QTEST_MAIN(TestHostSim)
#include "tst_hostsim.moc"

// The simulated host libraries: the module's tests and the demo lean on them,
// so they must behave like the host wherever the module can tell.

#include "TestSupport.h"

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
};

QTEST_MAIN(TestHostSim)
#include "tst_hostsim.moc"

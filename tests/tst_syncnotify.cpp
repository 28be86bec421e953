// Synchronous host notification: a caller waits for the host's answer to
// its own sn; answers nobody waits for reach the pages as emitHostResponse.

#include "TestSupport.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QRandomGenerator>
#include <QtCore/QScopeGuard>
#include <QtCore/QUuid>
#include <climits>
#include <future>
#include <vector>

using namespace TestSupport;

namespace {

QString notify(QString text, int timeout)
{
    return dc()->NotifyToHostEx(text, timeout);
}

// True when no waiter holds sn any more: an answer for it is forwarded.
bool isForwarded(const QString& sn)
{
    QSignalSpy spy(dc(), &WebViewDataCenter::emitInfoNotifyEx);
    dc()->NotifyResult(QStringLiteral("probe"), sn);
    return spy.count() == 1 && spy[0][1].toString() == sn;
}

} // namespace

class TestSyncNotify : public QObject
{
    Q_OBJECT
    BridgePage m_bridge;

private slots:
    void initTestCase() { QVERIFY(m_bridge.load()); }

    // Answered inside the handler, by a host that then overwrites the sn:
    // the caller still gets its answer (line breaks removed), at once.
    void answerInsideHandler_data()
    {
        QTest::addColumn<QString>("hostAnswer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("CR LF tab removed")
            << QStringLiteral("收到\r\n\t😀\n") << QStringLiteral("收到😀");
        QTest::newRow("empty answer, no time-out") << ""
                                                   << "";
    }

    void answerInsideHandler()
    {
        QFETCH(QString, hostAnswer);
        QFETCH(QString, expected);
        HostRecorder host([&](QString&, QString& sn) {
            dc()->NotifyResult(hostAnswer, sn);
            sn = QStringLiteral("overwritten");
        });
        LogCapture log;
        QCOMPARE(notify(QStringLiteral("报警 'x'"), 60000), expected);
        QCOMPARE(host.msgs(), QStringList { QStringLiteral("报警 'x'") });
        const QString sn = host.sns().value(0);
        QCOMPARE(sn, QUuid::fromString(sn).toString()); // a braced lower-case uuid
        QVERIFY(log.debugLines().isEmpty());
        QVERIFY(isForwarded(sn));
    }

    // A wait never ends before its deadline, and leaves nothing behind.
    void timeOut_data()
    {
        QTest::addColumn<int>("timeout");
        QTest::newRow("short") << 30;
        QTest::newRow("zero") << 0;
        QTest::newRow("lowest") << INT_MIN;
    }

    void timeOut()
    {
        QFETCH(int, timeout);
        HostRecorder host;
        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(notify(QStringLiteral("unanswered"), timeout).isEmpty());
        QVERIFY(clock.elapsed() >= qMax(0, timeout));
        QCOMPARE(log.debugLines(), QStringList { "[NotifyToHostEx]:get respone timeout." });
        QCOMPARE(host.sns().size(), 1);
        QVERIFY(isForwarded(host.sns()[0]));
    }

    void pageWaitsForTheHost_data()
    {
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<bool>("hostAnswers");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("limit"); // set by the host; 0: the default
        QTest::newRow("answered") << QVariantList { "hi" } << true << 0 << 0;
        QTest::newRow("default, no answer") << QVariantList { "hi" } << false << 300 << 0;
        QTest::newRow("explicit, no answer") << QVariantList { "hi", 120 } << false << 120 << 0;
        // The page does not choose how long the window stands still.
        QTest::newRow("beyond the host's limit")
            << QVariantList { "hi", 20000 } << false << 150 << 150;
    }

    void pageWaitsForTheHost()
    {
        QFETCH(QVariantList, args);
        QFETCH(bool, hostAnswers);
        QFETCH(int, atLeastMs);
        QFETCH(int, limit);
        const int defaultLimit = dc()->NotifyWaitLimit();
        if (limit)
            dc()->SetNotifyWaitLimit(limit);
        const auto restore = qScopeGuard([&] { dc()->SetNotifyWaitLimit(defaultLimit); });
        LogCapture log;
        HostRecorder host([&](QString& msg, QString& sn) {
            if (hostAnswers)
                dc()->NotifyResult("answer to " + msg, sn);
        });
        QElapsedTimer clock;
        clock.start();
        bool ok = false;
        const QVariant result = callBridge(m_bridge.page(), "NotifyToHostSync", args, &ok);
        QVERIFY(ok);
        QCOMPARE(result.toString(), hostAnswers ? QStringLiteral("answer to hi") : QString());
        QCOMPARE(host.msgs(), QStringList { "hi" });
        QVERIFY(clock.elapsed() >= atLeastMs);
        QCOMPARE(log.contains("tavi.webmodule: NotifyToHostSync: time-out 20000 ms cut to the "
                              "limit of 150 ms"),
                 limit != 0);
    }

    // An answer after the waiter gave up (from a host thread), and one for an
    // sn never issued; forwarding registers nothing.
    void unawaitedAnswersReachPages()
    {
        HostRecorder host;
        clearPageCalls(m_bridge.page());
        QVERIFY(notify(QStringLiteral("m"), 0).isEmpty());
        const QString sn = host.sns().value(0);
        QVERIFY(!sn.isEmpty());
        dc()->NotifyResult(QStringLiteral("for\tthe\r\npage"), QStringLiteral("page-7"));
        std::thread([sn] { dc()->NotifyResult(QStringLiteral("late 'one'\n"), sn); }).join();
        QCOMPARE(pageCalls(m_bridge.page(), 2),
                 callsText({ { "emitHostResponse", { "forthepage", "page-7" } },
                             { "emitHostResponse", { "late 'one'", sn } } }));
        QVERIFY(isForwarded(QStringLiteral("page-7")));
    }

    // Many threads wait at once while others answer, each after a random
    // delay, so in random order: no answer lost or crossed, no entry left
    // behind. Half wait INT_MAX ms, a deadline that must not wrap into the past.
    void stress()
    {
        constexpr int waiters = 16;
        constexpr int callsPerWaiter = 150;
        std::mutex mutex;
        std::vector<std::thread> answerers;
        HostRecorder host([&](QString& msg, QString& sn) {
            const auto delay = std::chrono::microseconds(QRandomGenerator::global()->bounded(100));
            std::lock_guard<std::mutex> lock(mutex);
            answerers.emplace_back([delay, msg, sn] {
                std::this_thread::sleep_for(delay);
                dc()->NotifyResult("re:" + msg, sn);
            });
        });
        std::atomic<int> right { 0 };
        std::vector<std::thread> waitThreads;
        for (int w = 0; w < waiters; ++w) {
            waitThreads.emplace_back([&, w] {
                for (int i = 0; i < callsPerWaiter; ++i) {
                    const QString msg = QStringLiteral("w%1-%2").arg(w).arg(i);
                    right += notify(msg, w % 2 ? 5000 : INT_MAX) == "re:" + msg;
                }
            });
        }
        for (std::thread& t : waitThreads)
            t.join();
        for (std::thread& t : answerers)
            t.join();
        QCOMPARE(right.load(), waiters * callsPerWaiter);
        QCOMPARE(host.sns().size(), waiters * callsPerWaiter);
        for (const QString& sn : host.sns())
            QVERIFY(isForwarded(sn));
    }

    // Last, as a failure leaves the lock held: a receiver of emitInfoNotifyEx
    // connected for direct delivery calls back into the data center.
    void directReceiverMayCallBack()
    {
        QString nested = QStringLiteral("not called");
        QObject context;
        connect(
            dc(), &WebViewDataCenter::emitInfoNotifyEx, &context,
            [&nested](const QString& msg, const QString&) {
                if (msg == QLatin1String("outer")) {
                    dc()->NotifyResult(QStringLiteral("inner"), QStringLiteral("unknown-2"));
                    nested = notify(QStringLiteral("from slot"), 0);
                }
            },
            Qt::DirectConnection);
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        std::thread host([done] {
            dc()->NotifyResult(QStringLiteral("outer"), QStringLiteral("unknown-1"));
            done->set_value();
        });
        if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            host.detach();
            QFAIL("NotifyResult deadlocked on a direct receiver");
        }
        host.join();
        QVERIFY(nested.isEmpty());
    }
};

QTEST_MAIN(TestSyncNotify)
#include "tst_syncnotify.moc"

// Synchronous host notification: a caller waits for the host's answer to
// its own sn; answers nobody waits for reach the pages as emitHostResponse.

#include "TestSupport.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonObject>
#include <QtCore/QRandomGenerator>
#include <QtCore/QUuid>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebViewDataCenter.h>
#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace TestSupport;

namespace {

// The host's side: a direct handler of emitFuncWebNotify that records what
// arrived (from any thread) and runs the test's answer policy inside it.
struct Host
{
    explicit Host(std::function<void(QString& msg, QString& sn)> policy = {})
    {
        connection = QObject::connect(WebViewDataCenter::GetInstance(),
            &WebViewDataCenter::emitFuncWebNotify, [this, policy](QString& msg, QString& sn) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    msgs << msg;
                    sns << sn;
                }
                if (policy)
                    policy(msg, sn);
            });
    }
    ~Host() { QObject::disconnect(connection); }
    // The sns so far, read while waiters may still add to them.
    QStringList issued()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return sns;
    }

    std::mutex mutex;
    QStringList msgs;
    QStringList sns;
    QMetaObject::Connection connection;
};

void answer(const QString& text, const QString& sn)
{
    QString msg = text;
    QString key = sn;
    WebViewDataCenter::GetInstance()->NotifyResult(msg, key);
}

QString notify(const QString& text, int timeout)
{
    QString msg = text;
    return WebViewDataCenter::GetInstance()->NotifyToHostEx(msg, timeout);
}

// True when no waiter holds sn any more: an answer for it is forwarded.
bool isForwarded(const QString& sn)
{
    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitInfoNotifyEx);
    answer(QStringLiteral("probe"), sn);
    return spy.count() == 1 && spy[0][1].toString() == sn;
}

} // namespace

class TestSyncNotify : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void answerInsideHandler_data();
    void answerInsideHandler();
    void timeOut_data();
    void timeOut();
    void pageWaitsForTheHost_data();
    void pageWaitsForTheHost();
    void unawaitedAnswersReachPages();
    void twoWaitersAnsweredInReverseOrder();
    void stress();
    // Last: a failure leaves the data center's lock held.
    void directReceiverMayCallBack();

private:
    QWidget m_parent;
    std::unique_ptr<VmsWebWidgets> m_widget;
    QWebEnginePage* m_page = nullptr;
};

void TestSyncNotify::initTestCase()
{
    m_widget = std::make_unique<VmsWebWidgets>(&m_parent);
    QVERIFY(loadBridgePage(*m_widget));
    m_page = pageOf(*m_widget);
}

void TestSyncNotify::cleanupTestCase()
{
    m_widget.reset();
}

void TestSyncNotify::answerInsideHandler_data()
{
    QTest::addColumn<QString>("hostAnswer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("non-ascii") << QStringLiteral("收到 😀") << QStringLiteral("收到 😀");
    QTest::newRow("CR LF tab removed") << "a\r\n\tb\n"
                                       << "ab";
    QTest::newRow("empty answer") << ""
                                  << "";
}

void TestSyncNotify::answerInsideHandler()
{
    QFETCH(QString, hostAnswer);
    QFETCH(QString, expected);

    // A host that writes to the sn after answering must not strand the caller.
    Host host([&](QString&, QString& sn) {
        answer(hostAnswer, sn);
        sn = QStringLiteral("overwritten");
    });
    LogCapture log;
    // A long time-out: the answer is already there, so nothing waits for it.
    QCOMPARE(notify(QStringLiteral("报警 'x'"), 60000), expected);
    QCOMPARE(host.msgs, QStringList { QStringLiteral("报警 'x'") });
    const QString sn = host.sns.value(0);
    QCOMPARE(sn, QUuid::fromString(sn).toString()); // a braced lower-case uuid
    QVERIFY(log.debugLines().isEmpty());
    QVERIFY(isForwarded(sn));
}

void TestSyncNotify::timeOut_data()
{
    QTest::addColumn<int>("timeout");
    QTest::newRow("short") << 30;
    QTest::newRow("zero") << 0;
    QTest::newRow("lowest") << INT_MIN;
}

void TestSyncNotify::timeOut()
{
    QFETCH(int, timeout);

    Host host;
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(notify(QStringLiteral("unanswered"), timeout).isEmpty());
    QCOMPARE(log.debugLines(), QStringList { "[NotifyToHostEx]:get respone timeout." });
    // A wait never ends before its deadline.
    QVERIFY(clock.elapsed() >= qMax(0, timeout));
    QCOMPARE(host.sns.size(), 1);
    QVERIFY(isForwarded(host.sns[0]));
}

void TestSyncNotify::pageWaitsForTheHost_data()
{
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<bool>("hostAnswers");
    QTest::addColumn<int>("atLeastMs");

    QTest::newRow("answered") << QVariantList { "hi" } << true << 0;
    QTest::newRow("default, no answer") << QVariantList { "hi" } << false << 300;
    QTest::newRow("explicit, no answer") << QVariantList { "hi", 120 } << false << 120;
}

void TestSyncNotify::pageWaitsForTheHost()
{
    QFETCH(QVariantList, args);
    QFETCH(bool, hostAnswers);
    QFETCH(int, atLeastMs);

    Host host([&](QString& msg, QString& sn) {
        if (hostAnswers)
            answer("answer to " + msg, sn);
    });
    QElapsedTimer clock;
    clock.start();
    bool ok = false;
    const QVariant result = callBridge(m_page, QStringLiteral("NotifyToHostSync"), args, &ok);
    QVERIFY(ok);
    QCOMPARE(result.toString(), hostAnswers ? QStringLiteral("answer to hi") : QString());
    QCOMPARE(host.msgs, QStringList { "hi" });
    QVERIFY(clock.elapsed() >= atLeastMs);
}

// An answer after the waiter gave up, and one for an sn never issued.
void TestSyncNotify::unawaitedAnswersReachPages()
{
    Host host;
    clearPageCalls(m_page);
    QVERIFY(notify(QStringLiteral("m"), 0).isEmpty());
    const QString sn = host.sns.value(0);
    QVERIFY(!sn.isEmpty());

    answer(QStringLiteral("for\tthe\r\npage"), QStringLiteral("page-7"));
    // From one of the host's threads.
    std::thread([sn] { answer(QStringLiteral("late 'one'\n"), sn); }).join();

    QVERIFY(waitForPageCalls(m_page, 2));
    const QJsonArray calls = pageCalls(m_page);
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0]["fn"].toString(), QStringLiteral("emitHostResponse"));
    QCOMPARE(calls[0]["args"].toArray(), (QJsonArray { "forthepage", "page-7" }));
    QCOMPARE(calls[1]["args"].toArray(), (QJsonArray { "late 'one'", sn }));
    // Forwarding registers nothing: still unknown.
    QVERIFY(isForwarded(QStringLiteral("page-7")));
}

// Answered from other threads; the deadline of INT_MAX ms lies in the future,
// it does not wrap into the past.
void TestSyncNotify::twoWaitersAnsweredInReverseOrder()
{
    Host host;
    const auto wait = [](const char* msg) {
        return std::async(std::launch::async, [msg] { return notify(msg, INT_MAX); });
    };
    std::future<QString> first = wait("first");
    QTRY_COMPARE(host.issued().size(), 1);
    std::future<QString> second = wait("second");
    QTRY_COMPARE(host.issued().size(), 2);

    std::thread([sns = host.issued()] {
        answer(QStringLiteral("answer 2"), sns[1]);
        answer(QStringLiteral("answer 1"), sns[0]);
    }).join();
    QCOMPARE(first.get(), QStringLiteral("answer 1"));
    QCOMPARE(second.get(), QStringLiteral("answer 2"));
}

// Several threads wait at once while others answer, each after a random
// delay, so in random order: no answer lost or crossed, no entry left behind.
void TestSyncNotify::stress()
{
    constexpr int waiters = 6;
    constexpr int callsPerWaiter = 60;

    std::mutex mutex;
    std::vector<std::thread> answerers;
    Host host([&](QString& msg, QString& sn) {
        const auto delay = std::chrono::microseconds(QRandomGenerator::global()->bounded(2000));
        std::lock_guard<std::mutex> lock(mutex);
        answerers.emplace_back([delay, msg, sn] {
            std::this_thread::sleep_for(delay);
            answer("re:" + msg, sn);
        });
    });

    std::atomic<int> right { 0 };
    std::vector<std::thread> waitThreads;
    for (int w = 0; w < waiters; ++w) {
        waitThreads.emplace_back([&, w] {
            for (int i = 0; i < callsPerWaiter; ++i) {
                const QString msg = QStringLiteral("w%1-%2").arg(w).arg(i);
                if (notify(msg, 30000) == "re:" + msg)
                    ++right;
            }
        });
    }
    for (std::thread& t : waitThreads)
        t.join();
    for (std::thread& t : answerers)
        t.join();

    QCOMPARE(right.load(), waiters * callsPerWaiter);
    QCOMPARE(host.sns.size(), waiters * callsPerWaiter);
    for (const QString& sn : std::as_const(host.sns))
        QVERIFY(isForwarded(sn));
}

void TestSyncNotify::directReceiverMayCallBack()
{
    // A receiver of emitInfoNotifyEx connected for direct delivery calls back
    // into the data center from its slot; it must not find the lock held.
    QString nested = QStringLiteral("not called");
    QObject context;
    connect(
        WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitInfoNotifyEx, &context,
        [&nested](const QString& msg, const QString&) {
            if (msg == QLatin1String("outer")) {
                answer(QStringLiteral("inner"), QStringLiteral("unknown-2"));
                nested = notify(QStringLiteral("from slot"), 0);
            }
        },
        Qt::DirectConnection);

    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread host([done] {
        answer(QStringLiteral("outer"), QStringLiteral("unknown-1"));
        done->set_value();
    });
    if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        host.detach();
        QFAIL("NotifyResult deadlocked on a direct receiver");
    }
    host.join();
    QVERIFY(nested.isEmpty());
}

QTEST_MAIN(TestSyncNotify)
#include "tst_syncnotify.moc"

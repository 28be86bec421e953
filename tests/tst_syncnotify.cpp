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
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace TestSupport;

namespace {

const QString kTimeoutLine = QStringLiteral("[NotifyToHostEx]:get respone timeout.");

// The host's side: a direct handler of emitFuncWebNotify that records what
// arrived and runs the test's answer policy inside the handler.
class Host
{
public:
    using Policy = std::function<void(QString& msg, QString& sn)>;

    explicit Host(Policy policy = {})
        : m_policy(std::move(policy))
    {
        m_connection = QObject::connect(WebViewDataCenter::GetInstance(),
            &WebViewDataCenter::emitFuncWebNotify, [this](QString& msg, QString& sn) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_msgs << msg;
                    m_sns << sn;
                }
                m_arrived.notify_all();
                if (m_policy)
                    m_policy(msg, sn);
            });
    }
    ~Host() { QObject::disconnect(m_connection); }

    QStringList sns() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sns;
    }
    QStringList msgs() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_msgs;
    }
    bool waitForCount(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(
            lock, std::chrono::seconds(10), [&] { return m_sns.size() >= count; });
    }

private:
    Policy m_policy;
    QMetaObject::Connection m_connection;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    QStringList m_msgs;
    QStringList m_sns;
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
    void longestTimeOutAnsweredFromAnotherThread();
    void pageWaitsForTheHost_data();
    void pageWaitsForTheHost();
    void lateAnswerReachesPages();
    void neverIssuedSnIsForwarded();
    void twoWaitersAnsweredInReverseOrder();
    void handlerChangingSnDoesNotStrandTheWaiter();
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
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("hostAnswer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "{\"q\":1}"
                           << "ok"
                           << "ok";
    QTest::newRow("answer ending in line feed") << "m"
                                                << "done\n"
                                                << "done";
    QTest::newRow("CR LF tab removed") << "m"
                                       << "a\r\n\tb"
                                       << "ab";
    QTest::newRow("empty answer") << ""
                                  << ""
                                  << "";
    QTest::newRow("non-ascii") << QStringLiteral("报警 'x'") << QStringLiteral("收到 😀")
                               << QStringLiteral("收到 😀");
}

void TestSyncNotify::answerInsideHandler()
{
    QFETCH(QString, msg);
    QFETCH(QString, hostAnswer);
    QFETCH(QString, expected);

    Host host([&](QString&, QString& sn) { answer(hostAnswer, sn); });
    LogCapture log;
    // A long time-out: the answer is already there, so nothing waits for it.
    const QString result = notify(msg, 60000);

    QCOMPARE(result, expected);
    QCOMPARE(host.msgs(), QStringList { msg });
    const QString sn = host.sns().value(0);
    QCOMPARE(sn.size(), 38);
    QVERIFY(sn.startsWith('{') && sn.endsWith('}'));
    QVERIFY(!QUuid::fromString(sn).isNull());
    QCOMPARE(sn, sn.toLower());
    QVERIFY(log.debugLines().isEmpty());
    QVERIFY(isForwarded(sn));
}

void TestSyncNotify::timeOut_data()
{
    QTest::addColumn<int>("timeout");
    QTest::newRow("short") << 30;
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
    QTest::newRow("lowest") << INT_MIN;
}

void TestSyncNotify::timeOut()
{
    QFETCH(int, timeout);

    Host host;
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    const QString result = notify(QStringLiteral("unanswered"), timeout);

    QVERIFY(result.isNull() || result.isEmpty());
    QCOMPARE(log.debugLines(), QStringList { kTimeoutLine });
    // A wait never ends before its deadline.
    QVERIFY(clock.elapsed() >= qMax(0, timeout));
    QCOMPARE(host.sns().size(), 1);
    QVERIFY(isForwarded(host.sns()[0]));
}

void TestSyncNotify::longestTimeOutAnsweredFromAnotherThread()
{
    // The deadline of INT_MAX ms must lie in the future, not wrap into the past.
    std::thread answerer;
    Host host([&](QString&, QString& sn) {
        const QString key = sn;
        answerer = std::thread([key] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            answer(QStringLiteral("late but awaited"), key);
        });
    });
    LogCapture log;
    const QString result = notify(QStringLiteral("m"), INT_MAX);
    answerer.join();
    QCOMPARE(result, QStringLiteral("late but awaited"));
    QVERIFY(log.debugLines().isEmpty());
}

void TestSyncNotify::pageWaitsForTheHost_data()
{
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<bool>("hostAnswers");
    QTest::addColumn<int>("atLeastMs");
    QTest::addColumn<QString>("expected");

    QTest::newRow("default, answered")
        << QVariantList { QStringLiteral("hi") } << true << 0 << "answer to hi";
    QTest::newRow("explicit, answered")
        << QVariantList { QStringLiteral("hi"), 5000 } << true << 0 << "answer to hi";
    QTest::newRow("default, no answer")
        << QVariantList { QStringLiteral("hi") } << false << 300 << "";
    QTest::newRow("explicit, no answer")
        << QVariantList { QStringLiteral("hi"), 120 } << false << 120 << "";
}

void TestSyncNotify::pageWaitsForTheHost()
{
    QFETCH(QVariantList, args);
    QFETCH(bool, hostAnswers);
    QFETCH(int, atLeastMs);
    QFETCH(QString, expected);

    Host host([&](QString& msg, QString& sn) {
        if (hostAnswers)
            answer("answer to " + msg, sn);
    });
    QElapsedTimer clock;
    clock.start();
    bool ok = false;
    const QVariant result = callBridge(m_page, QStringLiteral("NotifyToHostSync"), args, &ok);
    QVERIFY(ok);
    QCOMPARE(result.toString(), expected);
    QCOMPARE(host.msgs(), QStringList { "hi" });
    QVERIFY(clock.elapsed() >= atLeastMs);
}

void TestSyncNotify::lateAnswerReachesPages()
{
    Host host;
    clearPageCalls(m_page);
    bool ok = false;
    QCOMPARE(
        callBridge(m_page, QStringLiteral("NotifyToHostSync"), { QStringLiteral("m"), 20 }, &ok)
            .toString(),
        QString());
    QVERIFY(ok);
    const QString sn = host.sns().value(0);
    QVERIFY(!sn.isEmpty());

    // The host answers after the waiter gave up, from one of its threads.
    std::thread late([sn] { answer(QStringLiteral("late 'one'\n"), sn); });
    late.join();

    QVERIFY(waitForPageCalls(m_page, 1));
    const QJsonArray calls = pageCalls(m_page);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].toObject()["fn"].toString(), QStringLiteral("emitHostResponse"));
    QCOMPARE(calls[0].toObject()["args"].toArray(), (QJsonArray { "late 'one'", sn }));
}

void TestSyncNotify::neverIssuedSnIsForwarded()
{
    clearPageCalls(m_page);
    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitInfoNotifyEx);
    answer(QStringLiteral("for\tthe\r\npage"), QStringLiteral("page-7"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), QStringLiteral("forthepage"));
    QCOMPARE(spy[0][1].toString(), QStringLiteral("page-7"));
    QVERIFY(waitForPageCalls(m_page, 1));
    QCOMPARE(
        pageCalls(m_page)[0].toObject()["args"].toArray(), (QJsonArray { "forthepage", "page-7" }));
    // Still unknown: nothing was registered by the forwarding.
    QVERIFY(isForwarded(QStringLiteral("page-7")));
}

void TestSyncNotify::twoWaitersAnsweredInReverseOrder()
{
    Host host;
    std::promise<QString> first, second;
    std::thread a([&] { first.set_value(notify(QStringLiteral("first"), 20000)); });
    QVERIFY(host.waitForCount(1));
    std::thread b([&] { second.set_value(notify(QStringLiteral("second"), 20000)); });
    QVERIFY(host.waitForCount(2));

    const QStringList sns = host.sns();
    answer(QStringLiteral("answer 2"), sns[1]);
    answer(QStringLiteral("answer 1"), sns[0]);
    a.join();
    b.join();
    QCOMPARE(first.get_future().get(), QStringLiteral("answer 1"));
    QCOMPARE(second.get_future().get(), QStringLiteral("answer 2"));
}

void TestSyncNotify::directReceiverMayCallBack()
{
    // A receiver of emitInfoNotifyEx connected for direct delivery calls back
    // into the data center from its slot; it must not find the lock held.
    QString nested;
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
    const bool returned = finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) {
        host.detach();
        QFAIL("NotifyResult deadlocked on a direct receiver");
    }
    host.join();
    QVERIFY(nested.isEmpty());
}

void TestSyncNotify::handlerChangingSnDoesNotStrandTheWaiter()
{
    // The host must answer with the sn it was given; one that writes to the
    // reference must not make the caller wait on a different key.
    QString given;
    Host host([&](QString&, QString& sn) {
        given = sn;
        sn = QStringLiteral("overwritten");
        answer(QStringLiteral("ok"), given);
    });
    QCOMPARE(notify(QStringLiteral("m"), 5000), QStringLiteral("ok"));
    QVERIFY(isForwarded(given));
}

void TestSyncNotify::stress()
{
    constexpr int waiters = 6;
    constexpr int callsPerWaiter = 60;
    constexpr int answerers = 3;

    // Issued sns go to a shared queue; answerers take them in random order.
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::pair<QString, QString>> pending; // sn, msg
    QStringList issued;
    bool stopping = false;

    Host host([&](QString& msg, QString& sn) {
        std::lock_guard<std::mutex> lock(mutex);
        pending.emplace_back(sn, msg);
        issued << sn;
        wake.notify_one();
    });

    std::vector<std::thread> answerThreads;
    for (int i = 0; i < answerers; ++i) {
        answerThreads.emplace_back([&] {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                wake.wait(lock, [&] { return stopping || !pending.empty(); });
                if (pending.empty())
                    return;
                const size_t pick = QRandomGenerator::global()->bounded(quint32(pending.size()));
                const auto item = pending[pick];
                pending.erase(pending.begin() + qsizetype(pick));
                lock.unlock();
                answer("re:" + item.second, item.first);
                lock.lock();
            }
        });
    }

    std::atomic<int> wrong { 0 };
    std::atomic<int> right { 0 };
    std::vector<std::thread> waitThreads;
    for (int w = 0; w < waiters; ++w) {
        waitThreads.emplace_back([&, w] {
            for (int i = 0; i < callsPerWaiter; ++i) {
                const QString msg = QStringLiteral("w%1-%2").arg(w).arg(i);
                if (notify(msg, 30000) == "re:" + msg)
                    ++right;
                else
                    ++wrong;
            }
        });
    }
    for (std::thread& t : waitThreads)
        t.join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& t : answerThreads)
        t.join();

    QCOMPARE(wrong.load(), 0);
    QCOMPARE(right.load(), waiters * callsPerWaiter);
    QCOMPARE(issued.size(), waiters * callsPerWaiter);
    // Every entry is gone: each sn is unknown again.
    for (const QString& sn : std::as_const(issued))
        QVERIFY(isForwarded(sn));
}

QTEST_MAIN(TestSyncNotify)
#include "tst_syncnotify.moc"

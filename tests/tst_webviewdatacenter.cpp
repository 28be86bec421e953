#include <WebViewDataCenter.h>

#include <QtCore/QMetaMethod>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>

#include <atomic>
#include <thread>
#include <vector>

class TestWebViewDataCenter : public QObject
{
    Q_OBJECT
private slots:
    // Must stay first: it needs the instance not to exist yet.
    void concurrentFirstGetInstance();
    void signalsInMetaObjectOrder();
    void notifyToHostCString_data();
    void notifyToHostCString();
    void notifyToHostWithSn();
    void notifyToHostWithNothingConnected();
};

void TestWebViewDataCenter::concurrentFirstGetInstance()
{
    constexpr int threadCount = 8;
    std::atomic<bool> go{false};
    std::vector<WebViewDataCenter*> seen(threadCount, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load())
                std::this_thread::yield();
            seen[i] = WebViewDataCenter::GetInstance();
        });
    }
    go = true;
    for (std::thread& t : threads)
        t.join();

    QVERIFY(seen[0] != nullptr);
    for (WebViewDataCenter* p : seen)
        QCOMPARE(p, seen[0]);
    QCOMPARE(WebViewDataCenter::GetInstance(), seen[0]);
    QVERIFY(seen[0]->parent() == nullptr);
}

void TestWebViewDataCenter::signalsInMetaObjectOrder()
{
    const QMetaObject& mo = WebViewDataCenter::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("WebViewDataCenter"));
    QStringList own;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        QCOMPARE(m.methodType(), QMetaMethod::Signal);
        own << QString::fromLatin1(m.methodSignature());
    }
    const QStringList expected{
        "emitInfoNotify(QString)",
        "emitInfoNotifyEx(QString,QString)",
        "emitDevStatus(QString)",
        "emitDataCacheNotify(QString,QString)",
        "emitServerRespone(QString,int,QString)",
        "emitFuncWebNotify(QString&,QString&)",
        "emitFuncInfoCenterNotify(QString&)",
    };
    QCOMPARE(own, expected);
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
}

void TestWebViewDataCenter::notifyToHostCString_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("null");
    QTest::addColumn<QString>("expected");

    QTest::newRow("null pointer") << QByteArray() << true << QString();
    QTest::newRow("empty") << QByteArray("") << false << QString();
    QTest::newRow("json notice") << QByteArray("{\n    \"cmd\": \"showTip\"\n}\n") << false
                                 << QStringLiteral("{\n    \"cmd\": \"showTip\"\n}\n");
    QTest::newRow("utf-8") << QByteArray("\xe5\xbf\xab\xe7\x85\xa7 caf\xc3\xa9") << false
                           << QStringLiteral("快照 café");
}

void TestWebViewDataCenter::notifyToHostCString()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, null);
    QFETCH(QString, expected);

    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    QStringList received;
    QMetaObject::Connection c = connect(
        dc, &WebViewDataCenter::emitFuncInfoCenterNotify, this,
        [&received](QString& message) { received << message; }, Qt::DirectConnection);
    const int ret = dc->NotifyToHost(null ? nullptr : input.constData());
    disconnect(c);

    QCOMPARE(ret, 0);
    QCOMPARE(received, QStringList{expected});
}

void TestWebViewDataCenter::notifyToHostWithSn()
{
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    QStringList msgs, sns;
    QMetaObject::Connection c = connect(
        dc, &WebViewDataCenter::emitFuncWebNotify, this,
        [&](QString& msg, QString& sn) {
            msgs << msg;
            sns << sn;
        },
        Qt::DirectConnection);
    QString msg = QStringLiteral("{\"op\":\"open\",\"text\":\"它's\"}");
    QString sn = QStringLiteral("page-17");
    QCOMPARE(dc->NotifyToHost(msg, sn), 0);
    disconnect(c);

    QCOMPARE(msgs, QStringList{msg});
    QCOMPARE(sns, QStringList{sn});
}

void TestWebViewDataCenter::notifyToHostWithNothingConnected()
{
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    QString msg = QStringLiteral("nobody listens");
    QString sn = QStringLiteral("1");
    QCOMPARE(dc->NotifyToHost(msg, sn), 0);
    QCOMPARE(dc->NotifyToHost("nobody listens either"), 0);
}

QTEST_MAIN(TestWebViewDataCenter)
#include "tst_webviewdatacenter.moc"

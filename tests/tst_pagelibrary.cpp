#include "FakeSdk.h"
#include "TestSupport.h"

#include <VmsWebWidgets.h>
#include <WebViewDataCenter.h>

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>

#include <cstring>
#include <thread>
#include <vector>

using namespace TestSupport;

// The page library against the real module: answers travel the host's roads
// (callbacks from host threads, late notification answers, device pushes).
class TestPageLibrary : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void requestResolvesWithTheAnswerFromAHostThread_data();
    void requestResolvesWithTheAnswerFromAHostThread();
    void lateNotificationAnswerResolvesNotifyHost();
    void devStatusPushReachesSubscriberParsed();

private:
    bool openLibraryPage();
    QVariant await(const QString& promiseExpression);

    std::unique_ptr<QWidget> m_parent;
    std::unique_ptr<VmsWebWidgets> m_widgets;
    std::vector<std::thread> m_hostThreads;
};

void TestPageLibrary::init()
{
    m_parent = std::make_unique<QWidget>();
    m_widgets = std::make_unique<VmsWebWidgets>(m_parent.get());
}

void TestPageLibrary::cleanup()
{
    for (std::thread& t : m_hostThreads)
        t.join();
    m_hostThreads.clear();
    m_widgets.reset();
    m_parent.reset();
}

bool TestPageLibrary::openLibraryPage()
{
    return loadPage(*m_widgets, QUrl(QStringLiteral("qrc:/tests/library.html")))
        && waitForJs(pageOf(*m_widgets), QStringLiteral("window.ready === true"), 20000);
}

// Settles a page promise into window.__settled and returns {value} or {error}.
QVariant TestPageLibrary::await(const QString& promiseExpression)
{
    QWebEnginePage* page = pageOf(*m_widgets);
    evalJs(page, QStringLiteral("window.__settled = undefined; (%1).then("
                                "function (v) { window.__settled = { value: v }; },"
                                "function (e) { window.__settled = { error: String(e) }; }); true")
                     .arg(promiseExpression));
    if (!waitForJs(page, QStringLiteral("window.__settled !== undefined"), 20000))
        return QVariant();
    return evalJs(page, QStringLiteral("JSON.stringify(window.__settled)"));
}

void TestPageLibrary::requestResolvesWithTheAnswerFromAHostThread_data()
{
    QTest::addColumn<int>("ack");
    QTest::addColumn<QString>("body");
    QTest::newRow("plain") << 0 << QStringLiteral("{\"result\":\"ok\"}");
    QTest::newRow("negative ack, quotes") << -7 << QStringLiteral("it's \"bad\" \\ 100%2F");
}

void TestPageLibrary::requestResolvesWithTheAnswerFromAHostThread()
{
    QFETCH(int, ack);
    QFETCH(QString, body);

    FakeClientSdk sdk;
    SdkInstaller installed(&sdk);
    const QByteArray bodyUtf8 = body.toUtf8();
    sdk.request.onRequest = [this, ack, bodyUtf8](const FakeRequest& r) {
        // The host answers later, from a thread of its own.
        m_hostThreads.emplace_back([sn = r.sn, ack, bodyUtf8] {
            __tagKelCommand cmd;
            std::memset(&cmd, 0, sizeof cmd);
            QByteArray snCopy = sn, msgCopy = bodyUtf8;
            cmd.sn = snCopy.data();
            cmd.msg = msgCopy.data();
            cmd.ack = ack;
            WebViewDataCenter::GetInstance()->FuncResponeCallback(&cmd);
        });
    };
    QVERIFY(openLibraryPage());

    const QVariant settled = await(QStringLiteral("window.tavi.request(1001, 'hello', 'cam-1')"));
    QVERIFY(settled.isValid());
    const QJsonObject result = QJsonDocument::fromJson(settled.toString().toUtf8()).object();
    QVERIFY2(!result.contains(QStringLiteral("error")), qPrintable(settled.toString()));
    const QJsonObject answer = result.value(QStringLiteral("value")).toObject();
    QCOMPARE(answer.value(QStringLiteral("ack")).toInt(), ack);
    QVERIFY(answer.value(QStringLiteral("ack")).isDouble());
    QCOMPARE(answer.value(QStringLiteral("msg")).toString(), body);

    const QList<FakeRequest> sent = sdk.request.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().cmd, 1001);
    QCOMPARE(sent.first().msg, QByteArray("hello"));
    QCOMPARE(sent.first().devid, QByteArray("cam-1"));
    QCOMPARE(answer.value(QStringLiteral("sn")).toString().toUtf8(), sent.first().sn);
}

void TestPageLibrary::lateNotificationAnswerResolvesNotifyHost()
{
    QVERIFY(openLibraryPage());
    QString seenSn;
    QMetaObject::Connection c = connect(
        WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitFuncWebNotify, this,
        [this, &seenSn](QString& msg, QString& sn) {
            seenSn = sn;
            // Answered well after the call returned, from a host thread.
            m_hostThreads.emplace_back([answer = QStringLiteral("answer to ") + msg, sn]() mutable {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                WebViewDataCenter::GetInstance()->NotifyResult(answer, sn);
            });
        },
        Qt::DirectConnection);

    const QVariant settled = await(QStringLiteral("window.tavi.notifyHost('{\"ask\":1}')"));
    disconnect(c);
    QVERIFY(settled.isValid());
    QCOMPARE(QJsonDocument::fromJson(settled.toString().toUtf8()).object().value(QStringLiteral("value")).toString(),
             QStringLiteral("answer to {\"ask\":1}"));
    QVERIFY(seenSn.startsWith(QStringLiteral("tw-")));
}

void TestPageLibrary::devStatusPushReachesSubscriberParsed()
{
    QVERIFY(openLibraryPage());
    std::thread host([] {
        DeviceStatusMap status{{"cam-1", {{2, 1}, {10, 0}}}, {"door", {}}};
        WebViewDataCenter::GetInstance()->DevStatusUpdate(status);
    });
    host.join();

    QWebEnginePage* page = pageOf(*m_widgets);
    QVERIFY(waitForJs(page, QStringLiteral("window.events.length === 1")));
    const QJsonArray events = QJsonDocument::fromJson(
        evalJs(page, QStringLiteral("JSON.stringify(window.events)")).toString().toUtf8()).array();
    const QJsonArray expected = QJsonDocument::fromJson(R"([{"devStatus": [
        {"guid": "cam-1", "info": [{"channelId": 2, "status": 1}, {"channelId": 10, "status": 0}]},
        {"guid": "door", "info": []}]}])").array();
    QCOMPARE(events, expected);
    // The page's own emitDevStatus still runs.
    QCOMPARE(evalJs(page, QStringLiteral("window.ownDevStatusCalls")).toInt(), 1);
}

QTEST_MAIN(TestPageLibrary)
#include "tst_pagelibrary.moc"

// Requests to the VMS server and the page's identity: the data center's log
// lines and SDK calls, and the bridge methods as a real page calls them.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <TaviSim.h>
#include <VmsWebWidgets.h>
#include <WebViewDataCenter.h>
#include <climits>
#include <memory>

using namespace TestSupport;

class TestServerRequests : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void asyncRequestLogAndSdk_data();
    void asyncRequestLogAndSdk();
    void syncRequestAnswerAndLog_data();
    void syncRequestAnswerAndLog();
    void missingSdk_data();
    void missingSdk();

    void pageCallsReachTheSdk();
    void pageUserTokenSendsNotice();
    void pageRoundTripThroughSimulatedServer();
    void pageDevStatusMatchesPush();

private:
    // Calls a bridge method from the page; fails the test when no answer came.
    QVariant call(const QString& method, const QVariantList& args);

    QWidget m_parent;
    std::unique_ptr<VmsWebWidgets> m_widget;
    QWebEnginePage* m_page = nullptr;
};

void TestServerRequests::initTestCase()
{
    m_widget = std::make_unique<VmsWebWidgets>(&m_parent);
    QVERIFY(loadBridgePage(*m_widget));
    m_page = pageOf(*m_widget);
}

void TestServerRequests::cleanupTestCase()
{
    TaviSim::setResponseHandler(nullptr);
    m_widget.reset();
}

QVariant TestServerRequests::call(const QString& method, const QVariantList& args)
{
    bool ok = false;
    const QVariant result = callBridge(m_page, method, args, &ok);
    if (!ok)
        QTest::qFail(qPrintable("no answer from " + method), __FILE__, __LINE__);
    return result;
}

void TestServerRequests::asyncRequestLogAndSdk_data()
{
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<QByteArray>("sn");
    QTest::addColumn<QByteArray>("devid");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("quotes, line breaks, backslash")
        << QByteArray("{\"a\":1}\nb\\c\t") << QByteArray("sn-1") << QByteArray("dev-1")
        << "RequestToServer:cmd= -2 devid= \"dev-1\" sn= \"sn-1\" param= "
           "\"{\\\"a\\\":1}\\nb\\\\c\\t\"";
    QTest::newRow("all null") << QByteArray() << QByteArray() << QByteArray()
                              << "RequestToServer:cmd= -2 devid= \"\" sn= \"\" param= \"\"";
}

void TestServerRequests::asyncRequestLogAndSdk()
{
    QFETCH(QByteArray, msg);
    QFETCH(QByteArray, sn);
    QFETCH(QByteArray, devid);
    QFETCH(QString, logLine);

    FakeClientSdk sdk;
    sdk.request.asyncResult = -7;
    SdkInstaller install(&sdk);
    LogCapture log;
    QCOMPARE(WebViewDataCenter::GetInstance()->RequestToServer(-2,
                 msg.isNull() ? nullptr : msg.constData(), sn.isNull() ? nullptr : sn.constData(),
                 devid.isNull() ? nullptr : devid.data()),
        -7);

    QCOMPARE(log.debugLines(), QStringList { logLine });
    const QList<FakeRequest> sent = sdk.request.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].cmd, -2);
    QCOMPARE(sent[0].msg, msg);
    // Null stays null: the pointers are handed on as they came.
    QCOMPARE(sent[0].sn.isNull(), sn.isNull());
    QCOMPARE(sent[0].sn, sn);
    QCOMPARE(sent[0].devid, devid);
}

void TestServerRequests::syncRequestAnswerAndLog_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("resultLine");

    QTest::newRow("line breaks leave the result, not the log")
        << QByteArray("{\r\n\t\"a\": 1\n}") << INT_MAX << "{\"a\": 1}"
        << "RequestToServerSync:result= \"{\\r\\n\\t\\\"a\\\": 1\\n}\"";
    QTest::newRow("cut at NUL") << QByteArray("head\0tail", 9) << INT_MIN << "head"
                                << "RequestToServerSync:result= \"head\"";
    QTest::newRow("utf-8") << QByteArray("\xe6\x88\x90\xe5\x8a\x9f \xf0\x9f\x98\x80") << 0
                           << QStringLiteral("成功 😀")
                           << QStringLiteral("RequestToServerSync:result= \"成功 😀\"");
}

void TestServerRequests::syncRequestAnswerAndLog()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, timeout);
    QFETCH(QString, result);
    QFETCH(QString, resultLine);

    FakeClientSdk sdk;
    sdk.request.syncAnswer = answer.toStdString();
    sdk.request.syncResult = 4;
    SdkInstaller install(&sdk);
    LogCapture log;
    QByteArray devid("cam \"1\"");
    QString got = QStringLiteral("stale");
    QCOMPARE(WebViewDataCenter::GetInstance()->RequestToServerSync(
                 12, "q=1", devid.data(), timeout, got),
        4);

    QCOMPARE(got, result);
    QCOMPARE(log.debugLines(),
        (QStringList {
            "RequestToServerSync:cmd= 12 devid= \"cam \\\"1\\\"\" msg= \"q=1\"", resultLine }));
    // The time-out is the SDK's business: passed on unchanged.
    QCOMPARE(sdk.request.requests().value(0).timeout, timeout);
}

void TestServerRequests::missingSdk_data()
{
    QTest::addColumn<bool>("haveClientSdk");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no client SDK") << false << "no client SDK, request not sent";
    QTest::newRow("no request interface")
        << true << "client SDK has no request interface, request not sent";
}

void TestServerRequests::missingSdk()
{
    QFETCH(bool, haveClientSdk);
    QFETCH(QString, reason);

    FakeClientSdk sdk;
    sdk.requestAvailable = false;
    SdkInstaller install(haveClientSdk ? &sdk : nullptr);
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    QByteArray devid("d");
    LogCapture log;

    QCOMPARE(dc->RequestToServer(1, "m", "s", devid.data()), -1);
    QString result = QStringLiteral("stale");
    QCOMPARE(dc->RequestToServerSync(2, "m", devid.data(), 300, result), -1);
    QVERIFY(result.isEmpty());
    std::string session = "stale";
    QCOMPARE(dc->GetDevSessionId("d", session), -1);
    QVERIFY(session.empty());
    QCOMPARE(log.debugLines(),
        (QStringList { "RequestToServer:cmd= 1 devid= \"d\" sn= \"s\" param= \"m\"",
            "tavi.webmodule: RequestToServer: " + reason,
            "RequestToServerSync:cmd= 2 devid= \"d\" msg= \"m\"",
            "tavi.webmodule: RequestToServerSync: " + reason,
            "tavi.webmodule: GetDevSessionId: " + reason }));

    // The page sees the same defined results.
    QCOMPARE(call("RequestToVmsServer", { 1, "m", "s", "d" }).toInt(), -1);
    QCOMPARE(call("RequestToVmsServerSync", { 1, "m", "d" }).toString(), QString());
    QCOMPARE(call("GetDevSessionId", { "d" }).toString(), QString());
}

// Texts reach the SDK as UTF-8, empty ones as empty C strings (never null);
// a synchronous call without a time-out passes 300; a UTF-8 session id comes
// back intact, an unknown device's as empty.
void TestServerRequests::pageCallsReachTheSdk()
{
    FakeClientSdk sdk;
    sdk.request.asyncResult = 17;
    sdk.request.syncAnswer = "{\n  \"\xe7\xbb\x93\xe6\x9e\x9c\": \"ok\"\n}";
    SdkInstaller install(&sdk);
    const QString msg = QStringLiteral("{\"名\":\"é😀\"}");
    const QString sn = QStringLiteral("序-1");
    const QString devid = QStringLiteral("摄像机");

    QCOMPARE(call("RequestToVmsServer", { 42, msg, sn, devid }).toInt(), 17);
    QCOMPARE(call("RequestToVmsServer", { 43, "", "", "" }).toInt(), 17);
    const QString answer = QStringLiteral("{  \"结果\": \"ok\"}");
    QCOMPARE(call("RequestToVmsServerSync", { 7, msg, devid }).toString(), answer);
    QCOMPARE(call("RequestToVmsServerSync", { 8, "", "d", 1500 }).toString(), answer);
    QCOMPARE(call("GetDevSessionId", { "nope" }).toString(), QString());
    sdk.request.sessionIdAnswer = "\xe4\xbc\x9a\xe8\xaf\x9d-\xf0\x9f\x98\x80";
    QCOMPARE(call("GetDevSessionId", { devid }).toString(), QStringLiteral("会话-😀"));

    const QList<FakeRequest> sent = sdk.request.requests();
    QCOMPARE(sent.size(), 6);
    QCOMPARE(sent[0].cmd, 42);
    QCOMPARE(sent[0].msg, msg.toUtf8());
    QCOMPARE(sent[0].sn, sn.toUtf8());
    QCOMPARE(sent[0].devid, devid.toUtf8());
    QCOMPARE(sent[1].cmd, 43);
    QVERIFY(sent[1].msg.isEmpty() && sent[1].sn.isEmpty() && sent[1].devid.isEmpty());
    QVERIFY(!sent[1].msg.isNull() && !sent[1].sn.isNull() && !sent[1].devid.isNull());
    QVERIFY(sent[2].sync);
    QCOMPARE(sent[2].cmd, 7);
    QCOMPARE(sent[2].msg, msg.toUtf8());
    QCOMPARE(sent[2].devid, devid.toUtf8());
    QCOMPARE(sent[2].timeout, 300);
    QCOMPARE(sent[3].timeout, 1500);
    QCOMPARE(sent[5].devid, devid.toUtf8());
}

void TestServerRequests::pageUserTokenSendsNotice()
{
    HostNotices host;
    QVERIFY(call("GetUserToken", {}).isNull());
    QCOMPARE(host.texts,
        QStringList { "{\n    \"cmd\": \"getUserToken\",\n    \"data\": {\n    }\n}\n" });
}

void TestServerRequests::pageRoundTripThroughSimulatedServer()
{
    SdkInstaller install(TaviSim::clientSdk());
    TaviSim::setResponseHandler(
        [](__tagKelCommand* cmd) { WebViewDataCenter::GetInstance()->FuncResponeCallback(cmd); });
    clearPageCalls(m_page);

    QCOMPARE(
        call("RequestToVmsServer", { 3, "{\"list\":\"a'b\"}", "page-1", "cam-lobby" }).toInt(), 0);
    QVERIFY(waitForPageCalls(m_page, 1));
    TaviSim::setResponseHandler(nullptr);

    const QJsonArray calls = pageCalls(m_page);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0]["fn"].toString(), QStringLiteral("emitServerRespone"));
    const QJsonArray args = calls[0]["args"].toArray();
    QCOMPARE(args.size(), 3);
    QCOMPARE(args[0].toString(), QStringLiteral("page-1"));
    QCOMPARE(args[1].toString(), QStringLiteral("0"));
    const QJsonObject body = QJsonDocument::fromJson(args[2].toString().toUtf8()).object();
    QCOMPARE(body["request"].toString(), QStringLiteral("{\"list\":\"a'b\"}"));
    QCOMPARE(body["devid"].toString(), QStringLiteral("cam-lobby"));
}

void TestServerRequests::pageDevStatusMatchesPush()
{
    DeviceStatusMap map;
    map["nvr"][10] = 1;
    map["nvr"][2] = 0;
    map["cam"][1] = -1;
    TaviSim::setDeviceStatus(map);
    TaviSim::setPendingDeviceIds({ "listed-only" });
    QSignalSpy pushed(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitDevStatus);
    WebViewDataCenter::GetInstance()->DevStatusUpdate(map);

    const QString pulled = call("GetDevStatus", {}).toString();
    TaviSim::setPendingDeviceIds({});
    QCOMPARE(pushed.count(), 1);
    QCOMPARE(pulled, pushed[0][0].toString());
    // An id the host lists without a status is not reported.
    QVERIFY(!pulled.contains(QLatin1String("listed-only")));
    QVERIFY(pulled.indexOf(QLatin1String("\"cam\"")) < pulled.indexOf(QLatin1String("\"nvr\"")));
}

QTEST_MAIN(TestServerRequests)
#include "tst_serverrequests.moc"

// Requests to the VMS server and the page's identity: the data center's log
// lines and SDK calls, and the bridge methods as a real page calls them.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <TaviSim.h>
#include <VmsWebWidgets.h>
#include <WebViewDataCenter.h>
#include <climits>
#include <memory>

using namespace TestSupport;

namespace {

char* mutableCstr(QByteArray& text)
{
    return text.isNull() ? nullptr : text.data();
}

} // namespace

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
    void syncTimeoutPassedUnchanged_data();
    void syncTimeoutPassedUnchanged();
    void missingSdk_data();
    void missingSdk();

    void pageRequestReachesSdkAsUtf8_data();
    void pageRequestReachesSdkAsUtf8();
    void pageSyncRequest_data();
    void pageSyncRequest();
    void pageSessionId_data();
    void pageSessionId();
    void pageUserTokenSendsNotices();
    void pageRoundTripThroughSimulatedServer();
    void pageDevStatusMatchesPush();

private:
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

void TestServerRequests::asyncRequestLogAndSdk_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<QByteArray>("sn");
    QTest::addColumn<QByteArray>("devid");
    QTest::addColumn<int>("sdkResult");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("plain")
        << 5 << QByteArray("{\"a\":1}") << QByteArray("sn-1") << QByteArray("dev-1") << 0
        << "RequestToServer:cmd= 5 devid= \"dev-1\" sn= \"sn-1\" param= \"{\\\"a\\\":1}\"";
    QTest::newRow("null sn") << 1 << QByteArray("m") << QByteArray() << QByteArray("d") << 3
                             << "RequestToServer:cmd= 1 devid= \"d\" sn= \"\" param= \"m\"";
    QTest::newRow("all null, negative result")
        << -2 << QByteArray() << QByteArray() << QByteArray() << -7
        << "RequestToServer:cmd= -2 devid= \"\" sn= \"\" param= \"\"";
    QTest::newRow("line breaks and backslash")
        << 9 << QByteArray("a\nb\\c\t") << QByteArray("s") << QByteArray("") << 1
        << "RequestToServer:cmd= 9 devid= \"\" sn= \"s\" param= \"a\\nb\\\\c\\t\"";
}

void TestServerRequests::asyncRequestLogAndSdk()
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, msg);
    QFETCH(QByteArray, sn);
    QFETCH(QByteArray, devid);
    QFETCH(int, sdkResult);
    QFETCH(QString, logLine);

    FakeClientSdk sdk;
    sdk.request.asyncResult = sdkResult;
    SdkInstaller install(&sdk);
    LogCapture log;
    const int ret = WebViewDataCenter::GetInstance()->RequestToServer(cmd,
        msg.isNull() ? nullptr : msg.constData(), sn.isNull() ? nullptr : sn.constData(),
        mutableCstr(devid));

    QCOMPARE(ret, sdkResult);
    QCOMPARE(log.debugLines(), QStringList { logLine });
    const QList<FakeRequest> sent = sdk.request.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].cmd, cmd);
    QCOMPARE(sent[0].msg, msg);
    // Null stays null: the pointers are handed on as they came.
    QCOMPARE(sent[0].sn.isNull(), sn.isNull());
    QCOMPARE(sent[0].sn, sn);
    QCOMPARE(sent[0].devid, devid);
}

void TestServerRequests::syncRequestAnswerAndLog_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("resultLine");

    QTest::newRow("plain") << QByteArray("{\"ok\":true}") << "{\"ok\":true}"
                           << "RequestToServerSync:result= \"{\\\"ok\\\":true}\"";
    QTest::newRow("empty") << QByteArray("") << ""
                           << "RequestToServerSync:result= \"\"";
    QTest::newRow("line breaks leave the result, not the log")
        << QByteArray("{\r\n\t\"a\": 1\n}") << "{\"a\": 1}"
        << "RequestToServerSync:result= \"{\\r\\n\\t\\\"a\\\": 1\\n}\"";
    QTest::newRow("cut at NUL") << QByteArray("head\0tail", 9) << "head"
                                << "RequestToServerSync:result= \"head\"";
    QTest::newRow("utf-8") << QByteArray("\xe6\x88\x90\xe5\x8a\x9f \xf0\x9f\x98\x80")
                           << QStringLiteral("成功 😀")
                           << QStringLiteral("RequestToServerSync:result= \"成功 😀\"");
}

void TestServerRequests::syncRequestAnswerAndLog()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, result);
    QFETCH(QString, resultLine);

    FakeClientSdk sdk;
    sdk.request.syncAnswer = answer.toStdString();
    sdk.request.syncResult = 4;
    SdkInstaller install(&sdk);
    LogCapture log;
    QByteArray devid("cam \"1\"");
    QString got = QStringLiteral("stale");
    const int ret
        = WebViewDataCenter::GetInstance()->RequestToServerSync(12, "q=1", devid.data(), 300, got);

    QCOMPARE(ret, 4);
    QCOMPARE(got, result);
    QCOMPARE(log.debugLines(),
        (QStringList {
            "RequestToServerSync:cmd= 12 devid= \"cam \\\"1\\\"\" msg= \"q=1\"", resultLine }));
}

void TestServerRequests::syncTimeoutPassedUnchanged_data()
{
    QTest::addColumn<int>("timeout");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -1;
    QTest::newRow("lowest") << INT_MIN;
    QTest::newRow("highest") << INT_MAX;
}

void TestServerRequests::syncTimeoutPassedUnchanged()
{
    QFETCH(int, timeout);
    FakeClientSdk sdk;
    SdkInstaller install(&sdk);
    QString result;
    QByteArray devid("d");
    WebViewDataCenter::GetInstance()->RequestToServerSync(
        1, nullptr, devid.data(), timeout, result);
    QCOMPARE(sdk.request.requests().size(), 1);
    QCOMPARE(sdk.request.requests()[0].timeout, timeout);
    QVERIFY(sdk.request.requests()[0].msg.isNull());
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
    QCOMPARE(log.debugLines(),
        (QStringList { "RequestToServer:cmd= 1 devid= \"d\" sn= \"s\" param= \"m\"",
            "RequestToServer: " + reason }));
    log.clear();

    QString result = QStringLiteral("stale");
    QCOMPARE(dc->RequestToServerSync(2, "m", devid.data(), 300, result), -1);
    QVERIFY(result.isEmpty());
    QCOMPARE(log.debugLines(),
        (QStringList { "RequestToServerSync:cmd= 2 devid= \"d\" msg= \"m\"",
            "RequestToServerSync: " + reason }));
    log.clear();

    std::string session = "stale";
    QCOMPARE(dc->GetDevSessionId("d", session), -1);
    QVERIFY(session.empty());
    QCOMPARE(log.debugLines(), QStringList { "GetDevSessionId: " + reason });

    // The page sees the same defined results.
    bool ok = false;
    QCOMPARE(callBridge(m_page, "RequestToVmsServer", { 1, "m", "s", "d" }, &ok).toInt(), -1);
    QVERIFY(ok);
    QCOMPARE(
        callBridge(m_page, "RequestToVmsServerSync", { 1, "m", "d" }, &ok).toString(), QString());
    QVERIFY(ok);
    QCOMPARE(callBridge(m_page, "GetDevSessionId", { "d" }, &ok).toString(), QString());
    QVERIFY(ok);
}

void TestServerRequests::pageRequestReachesSdkAsUtf8_data()
{
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("sn");
    QTest::addColumn<QString>("devid");

    QTest::newRow("ascii") << "{\"q\":1}"
                           << "p-1"
                           << "cam-1";
    QTest::newRow("empty strings") << ""
                                   << ""
                                   << "";
    QTest::newRow("non-ascii") << QStringLiteral("{\"名\":\"é😀\"}") << QStringLiteral("序-1")
                               << QStringLiteral("摄像机");
}

void TestServerRequests::pageRequestReachesSdkAsUtf8()
{
    QFETCH(QString, msg);
    QFETCH(QString, sn);
    QFETCH(QString, devid);

    FakeClientSdk sdk;
    sdk.request.asyncResult = 17;
    SdkInstaller install(&sdk);
    bool ok = false;
    const QVariant ret = callBridge(m_page, "RequestToVmsServer", { 42, msg, sn, devid }, &ok);
    QVERIFY(ok);
    QCOMPARE(ret.toInt(), 17);

    const QList<FakeRequest> sent = sdk.request.requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].cmd, 42);
    QCOMPARE(sent[0].msg, msg.toUtf8());
    QCOMPARE(sent[0].sn, sn.toUtf8());
    QCOMPARE(sent[0].devid, devid.toUtf8());
    // Empty texts arrive as empty C strings, never as null pointers.
    QVERIFY(!sent[0].msg.isNull() && !sent[0].sn.isNull() && !sent[0].devid.isNull());
}

void TestServerRequests::pageSyncRequest_data()
{
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<int>("timeout");

    QTest::newRow("default time-out")
        << QVariantList { 7, QStringLiteral("é"), QStringLiteral("d") } << 300;
    QTest::newRow("explicit") << QVariantList { 7, QStringLiteral("é"), QStringLiteral("d"), 1500 }
                              << 1500;
}

void TestServerRequests::pageSyncRequest()
{
    QFETCH(QVariantList, args);
    QFETCH(int, timeout);

    FakeClientSdk sdk;
    sdk.request.syncAnswer = "{\n  \"\xe7\xbb\x93\xe6\x9e\x9c\": \"ok\"\n}";
    SdkInstaller install(&sdk);
    bool ok = false;
    const QVariant ret = callBridge(m_page, "RequestToVmsServerSync", args, &ok);
    QVERIFY(ok);
    QCOMPARE(ret.toString(), QStringLiteral("{  \"结果\": \"ok\"}"));

    const QList<FakeRequest> sent = sdk.request.requests();
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].sync);
    QCOMPARE(sent[0].cmd, 7);
    QCOMPARE(sent[0].msg, QByteArray("\xc3\xa9"));
    QCOMPARE(sent[0].devid, QByteArray("d"));
    QCOMPARE(sent[0].timeout, timeout);
}

void TestServerRequests::pageSessionId_data()
{
    QTest::addColumn<QString>("devId");
    QTest::addColumn<QByteArray>("sdkAnswer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("known") << "cam-1" << QByteArray("sess-42") << "sess-42";
    QTest::newRow("unknown device") << "nope" << QByteArray() << "";
    QTest::newRow("utf-8 both ways")
        << QStringLiteral("门禁") << QByteArray("\xe4\xbc\x9a\xe8\xaf\x9d-\xf0\x9f\x98\x80")
        << QStringLiteral("会话-😀");
}

void TestServerRequests::pageSessionId()
{
    QFETCH(QString, devId);
    QFETCH(QByteArray, sdkAnswer);
    QFETCH(QString, expected);

    FakeClientSdk sdk;
    sdk.request.sessionIdAnswer = sdkAnswer.toStdString();
    SdkInstaller install(&sdk);
    bool ok = false;
    const QVariant ret = callBridge(m_page, "GetDevSessionId", { devId }, &ok);
    QVERIFY(ok);
    QCOMPARE(ret.toString(), expected);
    QCOMPARE(sdk.request.requests().size(), 1);
    QCOMPARE(sdk.request.requests()[0].devid, devId.toUtf8());
    // No log line for a session id.
}

void TestServerRequests::pageUserTokenSendsNotices()
{
    QStringList notices;
    const QMetaObject::Connection c = connect(
        WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitFuncInfoCenterNotify, this,
        [&notices](QString& message) { notices << message; }, Qt::DirectConnection);

    bool ok = false;
    QVERIFY(callBridge(m_page, "GetUserToken", {}, &ok).isNull());
    QVERIFY(ok);
    callBridge(m_page, "GetUserToken", {}, &ok);
    QVERIFY(ok);
    disconnect(c);

    const QString notice = "{\n    \"cmd\": \"getUserToken\",\n    \"data\": {\n    }\n}\n";
    QCOMPARE(notices, (QStringList { notice, notice }));
}

void TestServerRequests::pageRoundTripThroughSimulatedServer()
{
    SdkInstaller install(TaviSim::clientSdk());
    TaviSim::setResponseHandler(
        [](__tagKelCommand* cmd) { WebViewDataCenter::GetInstance()->FuncResponeCallback(cmd); });
    clearPageCalls(m_page);

    bool ok = false;
    QCOMPARE(callBridge(m_page, "RequestToVmsServer",
                 { 3, QStringLiteral("{\"list\":\"a'b\"}"), QStringLiteral("page-1"),
                     QStringLiteral("cam-lobby") },
                 &ok)
                 .toInt(),
        0);
    QVERIFY(ok);
    QVERIFY(waitForPageCalls(m_page, 1));
    TaviSim::setResponseHandler(nullptr);

    const QJsonArray calls = pageCalls(m_page);
    QCOMPARE(calls.size(), 1);
    const QJsonObject call = calls[0].toObject();
    QCOMPARE(call["fn"].toString(), QStringLiteral("emitServerRespone"));
    const QJsonArray args = call["args"].toArray();
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

    QString pushed;
    const QMetaObject::Connection c = connect(
        WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitDevStatus, this,
        [&pushed](const QString& msg) { pushed = msg; }, Qt::DirectConnection);
    WebViewDataCenter::GetInstance()->DevStatusUpdate(map);
    disconnect(c);

    bool ok = false;
    const QString pulled = callBridge(m_page, "GetDevStatus", {}, &ok).toString();
    TaviSim::setPendingDeviceIds({});
    QVERIFY(ok);
    QCOMPARE(pulled, pushed);
    QVERIFY(!pulled.contains(QLatin1String("listed-only")));
    QVERIFY(pulled.indexOf(QLatin1String("\"cam\"")) < pulled.indexOf(QLatin1String("\"nvr\"")));
}

QTEST_MAIN(TestServerRequests)
#include "tst_serverrequests.moc"

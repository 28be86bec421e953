// The bridge as a page sees it: the methods it publishes, notifications and
// requests through the data center to the host's SDK, and the device status.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <MyMessageBox.h>
#include <QtWebChannel/QWebChannel>
#include <TaviSim.h>

using namespace TestSupport;

class TestWebComm : public QObject
{
    Q_OBJECT
    BridgePage m_bridge;

    // A bridge call from the page; fails the test when no answer came.
    QVariant call(const QString& method, const QVariantList& args)
    {
        bool ok = false;
        const QVariant result = callBridge(m_bridge.page(), method, args, &ok);
        if (!ok)
            QTest::qFail(qPrintable("no answer from " + method), __FILE__, __LINE__);
        return result;
    }

private slots:
    void initTestCase() { QVERIFY(m_bridge.load()); }

    // What pages bind to: each method with its types, and nothing else
    // (CopyFileProcess and SendHostNotice stay out of reach) but the
    // deleteLater that Qt publishes for every object.
    void publishedMethods()
    {
        QStringList table { "QString BrowseFilePath(QString)",
                            "QString BrowseFile(QString)",
                            "void PlaySoundFile(QString)",
                            "QString GetDevStatus()",
                            "QString GetDevSessionId(QString)",
                            "void ShowPicture(QString)",
                            "void PlayVideoFile(QString)",
                            "void CopyFileFunc(QString)",
                            "void DelFileFunc(QString)",
                            "bool ShowDevAlarmTips(QString)",
                            "void GetUserToken()",
                            "void SetDownloadPath(QString)",
                            "int AfterSnapshot(QString,QString,int,QString)",
                            "void ReleaseWebPage(QString)",
                            "int NotifyToHost(QString,QString)",
                            "QString NotifyToHostSync(QString,int)",
                            "QString NotifyToHostSync(QString)",
                            "int RequestToVmsServer(int,QString,QString,QString)",
                            "QString RequestToVmsServerSync(int,QString,QString,int)",
                            "QString RequestToVmsServerSync(int,QString,QString)",
                            "void emitCopyResult(QString)",
                            "void emitCopyProgress(QString)",
                            "void emitCallRefused(QString)",
                            "int SavePageAsPdf(QString)",
                            "void emitPdfResult(QString)" };
        table.sort();
        const QMetaObject& mo = CWebComm::staticMetaObject;
        QStringList declared, reachable;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            declared << mo.method(i).typeName() + QLatin1Char(' ') + mo.method(i).methodSignature();
        declared.sort();
        QCOMPARE(declared, table);
        QCOMPARE(mo.propertyCount(), mo.propertyOffset());
        for (const QString& method : std::as_const(table))
            if (!method.contains(" emit"))
                reachable << method.section(' ', 1);
        reachable << "deleteLater()";
        reachable.sort();
        QCOMPARE(evalJs(m_bridge.page(),
                        "Object.keys(window.bridge).filter(k => k.endsWith(')')"
                        " && typeof window.bridge[k] === 'function').sort()")
                     .toStringList(),
                 reachable);
    }

    // Only the bridge's owner ends it: not the page (which Qt 6.8's channel
    // lets call deleteLater) and no deferred deletion from anywhere.
    void bridgeOutlivesDeletionRequests_data()
    {
        QTest::addColumn<bool>("fromPage");
        QTest::newRow("the page asks") << true;
        QTest::newRow("deferred deletion") << false;
    }
    void bridgeOutlivesDeletionRequests()
    {
        QFETCH(bool, fromPage);
        QPointer<QObject> bridge
            = m_bridge.page()->webChannel()->registeredObjects().value("CWebComm");
        QVERIFY(bridge);
        LogCapture log;
        QEvent deferredDelete(QEvent::DeferredDelete);
        if (fromPage)
            callBridge(m_bridge.page(), "deleteLater", {});
        else // what deleteLater() ends in, whenever the event loop gets to it
            QCoreApplication::sendEvent(bridge, &deferredDelete);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(bridge);
        QCOMPARE(call("NotifyToHost", { "still here", "1" }).toInt(), 0);
        QVERIFY(fromPage
                || log.contains("tavi.webmodule: Refused to delete the bridge on request; only its "
                                "owner ends it"));
    }

    // A page's texts reach the host exactly. ReleaseWebPage does nothing.
    void notifyToHostFromPage()
    {
        QVERIFY(call("ReleaseWebPage", { bridgePageUrl().toString() }).isNull());
        HostRecorder host;
        const QString msg = QStringLiteral("it's \"报警\"\n😀\\"), sn = QStringLiteral("序-'1'");
        QCOMPARE(call("NotifyToHost", { msg, sn }).toInt(), 0);
        QCOMPARE(host.msgs(), QStringList { msg });
        QCOMPARE(host.sns(), QStringList { sn });
    }

    // Texts reach the SDK as UTF-8 (as toUtf8() writes it, lone surrogates
    // too), empty ones as empty C strings (never null); a synchronous call
    // without a time-out passes 300; a UTF-8 session id comes back intact, an
    // unknown device's as empty.
    void pageCallsReachTheSdk()
    {
        FakeClientSdk sdk;
        sdk.request.asyncResult = 17;
        sdk.request.syncAnswer = "{\n  \"\xe7\xbb\x93\xe6\x9e\x9c\": \"ok\"\n}";
        SdkInstaller install(&sdk);
        // Lone surrogates (a page's string may hold them), one at the end.
        const QString msg
            = QStringLiteral("{\"名\":\"é😀\"}") + QChar(0xdc00) + QChar(0xd800) + u'x',
            sn = QStringLiteral("序-1") + QChar(0xd83d), devid = QStringLiteral("摄像机");
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
        QCOMPARE(QList<QByteArray>({ sent[0].msg, sent[0].sn, sent[0].devid }),
                 QList<QByteArray>({ msg.toUtf8(), sn.toUtf8(), devid.toUtf8() }));
        QVERIFY(sent[1].msg.isEmpty() && sent[1].sn.isEmpty() && sent[1].devid.isEmpty());
        QVERIFY(!sent[1].msg.isNull() && !sent[1].sn.isNull() && !sent[1].devid.isNull());
        QVERIFY(sent[2].sync && sent[2].msg == msg.toUtf8() && sent[2].devid == devid.toUtf8());
        QCOMPARE(sent[2].timeout, 300);
        QCOMPARE(sent[3].timeout, 1500);
        QCOMPARE(sent[5].devid, devid.toUtf8());

        HostRecorder host;
        QVERIFY(call("GetUserToken", {}).isNull());
        QCOMPARE(host.notices(),
                 QStringList { "{\n    \"cmd\": \"getUserToken\",\n    \"data\": {\n    }\n}\n" });
    }

    // A call may wait in a dialog, and the host may close the page
    // meanwhile: the call then ends without an answer.
    void pageClosedDuringACall()
    {
        QWidget parent;
        auto* widgets = new VmsWebWidgets(&parent);
        QVERIFY(loadBridgePage(*widgets));
        const QPointer<QWebEnginePage> page = pageOf(*widgets);
        DialogDriver<CMessageBox> driver([&](CMessageBox*) { delete widgets; });
        startBridgeCall(page, QStringLiteral("ShowDevAlarmTips"), { QStringLiteral("alarm") });
        QTRY_COMPARE(driver.count(), 1);
        QVERIFY(!page);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    // The pull gives what the push gives; an id listed without a status is
    // not reported.
    void devStatusPullMatchesPush()
    {
        DeviceStatusMap map;
        map["nvr"][10] = 1;
        map["cam"][1] = -1;
        TaviSim::setDeviceStatus(map);
        TaviSim::setPendingDeviceIds({ "listed-only" });
        QSignalSpy pushed(dc(), &WebViewDataCenter::emitDevStatus);
        dc()->DevStatusUpdate(map);
        const QString pulled = call("GetDevStatus", {}).toString();
        TaviSim::setPendingDeviceIds({});
        QCOMPARE(pushed.count(), 1);
        QCOMPARE(pulled, pushed[0][0].toString());
        QVERIFY(!pulled.contains(QLatin1String("listed-only")));
    }
};

QTEST_MAIN(TestWebComm)
#include "tst_webcomm.moc"

#include "TestSupport.h"

#include <VmsWebWidgets.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>

#include <QtCore/QMetaMethod>
#include <QtCore/QPointer>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWebChannel/QWebChannel>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>

using namespace TestSupport;

namespace {

CWebComm* bridgeOf(VmsWebWidgets& w)
{
    return qobject_cast<CWebComm*>(
        pageOf(w)->webChannel()->registeredObjects().value(QStringLiteral("CWebComm")));
}

} // namespace

class TestWebComm : public QObject
{
    Q_OBJECT
private slots:
    void methodTableAsThePageSeesIt();
    void pageReachesOnlyPublishedMethods();
    void notifyToHostFromPage_data();
    void notifyToHostFromPage();
    void releaseWebPageChangesNothing_data();
    void releaseWebPageChangesNothing();
    void pageCannotDeleteBridge();
};

void TestWebComm::methodTableAsThePageSeesIt()
{
    const QMetaObject& mo = CWebComm::staticMetaObject;
    QCOMPARE(QByteArray(mo.className()), QByteArray("CWebComm"));
    QStringList signatures;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QMetaMethod m = mo.method(i);
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Public);
        signatures << QString::fromLatin1(m.typeName()) + ' ' + QString::fromLatin1(m.methodSignature());
    }
    const QStringList expected{
        "QString BrowseFilePath(QString)",
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
    };
    QCOMPARE(signatures, expected);
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
}

void TestWebComm::pageReachesOnlyPublishedMethods()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    const QStringList names{
        "BrowseFilePath", "BrowseFile", "PlaySoundFile", "GetDevStatus", "GetDevSessionId",
        "ShowPicture", "PlayVideoFile", "CopyFileFunc", "DelFileFunc", "ShowDevAlarmTips",
        "GetUserToken", "SetDownloadPath", "AfterSnapshot", "ReleaseWebPage", "NotifyToHost",
        "NotifyToHostSync", "RequestToVmsServer", "RequestToVmsServerSync"};
    for (const QString& name : names)
        QVERIFY2(evalJs(pageOf(w), QStringLiteral("typeof window.bridge.%1").arg(name)).toString()
                     == QLatin1String("function"),
                 qPrintable(name));
    QCOMPARE(evalJs(pageOf(w), QStringLiteral("typeof window.bridge.CopyFileProcess")).toString(),
             QStringLiteral("undefined"));
    QCOMPARE(evalJs(pageOf(w), QStringLiteral("typeof window.bridge.SendHostNotice")).toString(),
             QStringLiteral("undefined"));
}

void TestWebComm::notifyToHostFromPage_data()
{
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("sn");

    QTest::newRow("plain") << QStringLiteral("{\"action\":\"openTab\"}") << QStringLiteral("sn-1");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("quotes and lines") << QStringLiteral("it's \"quoted\"\nline 2\\") << QStringLiteral("'");
    QTest::newRow("non-ascii") << QStringLiteral("报警 ✓ 😀") << QStringLiteral("序号-9");
}

void TestWebComm::notifyToHostFromPage()
{
    QFETCH(QString, msg);
    QFETCH(QString, sn);

    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    HostNotifications host;

    bool ok = false;
    const QVariant result = callBridge(pageOf(w), QStringLiteral("NotifyToHost"), {msg, sn}, &ok);
    QVERIFY(ok);
    QCOMPARE(result.toInt(), 0);
    QCOMPARE(host.msgs, QStringList{msg});
    QCOMPARE(host.sns, QStringList{sn});
}

void TestWebComm::releaseWebPageChangesNothing_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << QString();
    QTest::newRow("own url") << bridgePageUrl().toString();
    QTest::newRow("other url") << QStringLiteral("https://example.invalid/x");
}

void TestWebComm::releaseWebPageChangesNothing()
{
    QFETCH(QString, url);

    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    QPointer<QWebEngineView> view = w.view();
    QPointer<QWebEnginePage> page = pageOf(w);
    QPointer<CWebComm> bridge = bridgeOf(w);
    const QUrl before = page->url();

    bool ok = false;
    const QVariant result = callBridge(page, QStringLiteral("ReleaseWebPage"), {url}, &ok);
    QVERIFY(ok);
    QVERIFY(result.isNull());
    QTest::qWait(50);
    QVERIFY(view && page && bridge);
    QCOMPARE(w.view(), view.data());
    QCOMPARE(page->url(), before);

    // The bridge still serves the page afterwards.
    HostNotifications host;
    QCOMPARE(callBridge(page, QStringLiteral("NotifyToHost"), {QStringLiteral("after"), QStringLiteral("2")}, &ok).toInt(), 0);
    QVERIFY(ok);
    QCOMPARE(host.msgs, QStringList{QStringLiteral("after")});
}

void TestWebComm::pageCannotDeleteBridge()
{
    QWidget parent;
    VmsWebWidgets w(&parent);
    QVERIFY(loadBridgePage(w));
    QPointer<CWebComm> bridge = bridgeOf(w);
    QVERIFY(bridge);

    LogCapture log;
    evalJs(pageOf(w), QStringLiteral("window.bridge.deleteLater(); true"));
    QTest::qWait(200);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(bridge);

    HostNotifications host;
    bool ok = false;
    QCOMPARE(callBridge(pageOf(w), QStringLiteral("NotifyToHost"), {QStringLiteral("still here"), QStringLiteral("3")}, &ok).toInt(), 0);
    QVERIFY(ok);
    QCOMPARE(host.msgs, QStringList{QStringLiteral("still here")});
}

QTEST_MAIN(TestWebComm)
#include "tst_webcomm.moc"

// Pages that stop answering: a page script that loops for a while is seen
// and seen back, a busy, hidden, loading or dialog-holding page is not; what
// the host sends it meanwhile stays within its budget and its device state
// is the host's again once it answers; a renderer that stays down shows an
// error state the operator can reload from.

#include "TestSupport.h"

#include <QtWidgets/QPushButton>
#include <TaviSim.h>
#include <csignal>

using namespace TestSupport;

namespace {

// Has the page loop for ms from its next turn on.
void hang(QWebEnginePage* page, int ms)
{
    QCOMPARE(evalJs(page,
                    QStringLiteral("setTimeout(() => { const end = Date.now() + %1;"
                                   " while (Date.now() < end) {} }, 0); true")
                        .arg(ms)),
             QVariant(true));
}

// The device state the page's emitDevStatus calls add up to, and the
// host's (as GetDevStatus gives it), both as {"guid/channel": status} text.
const char* kPageState = R"(JSON.stringify(Object.fromEntries(Object.entries(window.calls
    .filter(c => c.fn === 'emitDevStatus').reduce((state, c) => { JSON.parse(c.args[0])
        .forEach(d => d.info.forEach(i => state[d.guid + '/' + i.channelId] = i.status));
    return state; }, {})).sort())))";
QString hostState()
{
    QJsonObject state;
    for (const auto& [id, channels] : TaviSim::deviceStatus())
        for (const auto& [channel, status] : channels)
            state.insert(QStringLiteral("%1/%2").arg(QString::fromStdString(id)).arg(channel),
                         status);
    return QString::fromUtf8(QJsonDocument(state).toJson(QJsonDocument::Compact));
}

} // namespace

class TestPageHealth : public QObject
{
    Q_OBJECT
private slots:
    // A page that loops 3 s against a time-out of 1 s: told once silent,
    // once back. The other rows hold the page as long and are not; the busy
    // one yields every 150 ms, far inside the time-out even on a loaded machine.
    void seenWhenItStopsAnswering_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("told");
        QTest::newRow("loops") << "loop" << true;
        QTest::newRow("busy but answering") << "busy" << false;
        QTest::newRow("hidden") << "hidden" << false;
        QTest::newRow("showing an alert") << "alert" << false;
        QTest::newRow("still loading") << "loading" << false;
    }
    void seenWhenItStopsAnswering()
    {
        QFETCH(QString, how);
        QFETCH(bool, told);
        BridgePage bridge;
        bridge.parent.show();
        QVERIFY(bridge.load());
        bridge.widgets.setUnresponsiveTimeout(1000);
        QSignalSpy gone(&bridge.widgets, &VmsWebWidgets::pageUnresponsive);
        QSignalSpy back(&bridge.widgets, &VmsWebWidgets::pageResponsive);
        LogCapture log;
        QWebEnginePage* page = bridge.page();
        if (how == "loop" || how == "hidden") {
            if (how == "hidden")
                bridge.parent.hide();
            hang(page, 3000);
        } else if (how == "busy") {
            QVERIFY(evalJs(page,
                           "(function run(left) { const end = Date.now() + 150;"
                           " while (Date.now() < end) {} if (left) setTimeout(() => "
                           "run(left - 1), 0); })(20); true")
                        .toBool());
        } else if (how == "alert") {
            QTimer::singleShot(3000, [] {
                if (QWidget* dialog = QApplication::activeModalWidget())
                    dialog->close();
            });
            page->runJavaScript("alert('held')");
        } else {
            page->setHtml("<script>const end = Date.now() + 3000; while (Date.now() < end) {}"
                          "</script>");
        }
        if (told) {
            QVERIFY(gone.wait(10000));
            QVERIFY(back.wait(10000));
            QVERIFY(back.at(0).at(0).toInt() > 0);
            QVERIFY(log.lines().join('\n').contains("The page has not answered for"));
        } else {
            QTest::qWait(3500);
            QCOMPARE(evalJs(page, "1"), QVariant(1));
            QTest::qWait(500);
        }
        QCOMPARE(gone.size(), told ? 1 : 0);
        QCOMPARE(back.size(), told ? 1 : 0);
        QCOMPARE(bridge.widgets.health().value("answering").toBool(), true);
    }

    // Pushes into a page that loops stay within its budget: responses over
    // it are dropped and told, device statuses come back as the host's.
    void boundedWhileGoneAndEqualAfter()
    {
        BridgePage bridge;
        bridge.parent.show();
        QVERIFY(bridge.load());
        bridge.widgets.setPushBudget(32 * 1024);
        QSignalSpy dropped(&bridge.widgets, &VmsWebWidgets::pushesDropped);
        hang(bridge.page(), 4000);
        QTest::qWait(200);
        WebViewDataCenter* center = dc();
        // The budget holds once the page has left a push unanswered a while.
        Q_EMIT center->emitInfoNotify("first");
        QTest::qWait(1200);
        for (int i = 0; i < 3000; ++i) {
            TaviSim::setChannelStatus("dev-" + std::to_string(i % 50), i % 16, i % 3);
            DeviceStatusMap change { { "dev-" + std::to_string(i % 50), { { i % 16, i % 3 } } } };
            center->DevStatusUpdate(change);
            Q_EMIT center->emitServerRespone(QString::number(i), 0, QString(200, 'r'));
            if (i % 10 == 0) // as a host's pushes come, over many turns
                QCoreApplication::processEvents();
        }
        const QJsonObject held = bridge.widgets.health();
        QVERIFY2(held.value("pushesWaiting").toInt() < 200,
                 qPrintable(QJsonDocument(held).toJson()));
        QVERIFY(held.value("pushesReplaced").toInt() > 0);
        QVERIFY(dropped.wait(10000));
        waitForJs(bridge.page(), QStringLiteral("%1 === '%2'").arg(kPageState, hostState()), 20000);
        QCOMPARE(evalJs(bridge.page(), kPageState).toString(), hostState());
    }

    // A page that never answers is restarted after the host's recovery
    // time and answers again; the renderer is reloaded at most three times a
    // minute, then an error state stays, whose Reload button brings the page
    // back.
    void recoveredThenErrorState()
    {
        BridgePage bridge;
        bridge.parent.show();
        QVERIFY(bridge.load());
        bridge.widgets.setUnresponsiveTimeout(300);
        bridge.widgets.setAutoRecoveryTimeout(1000);
        QSignalSpy ended(&bridge.widgets, &VmsWebWidgets::renderProcessEnded);
        QSignalSpy back(&bridge.widgets, &VmsWebWidgets::pageResponsive);
        QSignalSpy error(&bridge.widgets, &VmsWebWidgets::errorStateShown);
        HostRecorder host;
        LogCapture log;
        hang(bridge.page(), 600000);
        QVERIFY(back.wait(60000));
        QCOMPARE(ended.size(), 1);
        QVERIFY(waitForJs(bridge.page(), "window.bridgeReady === true", 30000));
        for (int crash = 2; crash <= 4; ++crash) {
            QTRY_VERIFY_WITH_TIMEOUT(bridge.page()->renderProcessPid() > 0, 30000);
            ::kill(pid_t(bridge.page()->renderProcessPid()), SIGKILL);
            QTRY_COMPARE_WITH_TIMEOUT(ended.size(), crash, 30000);
            if (crash < 4)
                QVERIFY(waitForJs(bridge.page(), "window.bridgeReady === true", 30000));
        }
        // Each end is logged and told to the host: the fourth in a minute stays down.
        QStringList reloading;
        for (const QList<QVariant>& end : std::as_const(ended))
            reloading << end.at(1).toString();
        QCOMPARE(reloading, QStringList({ "true", "true", "true", "false" }));
        const QStringList notices = host.notices().filter("\"cmd\": \"renderProcessTerminated\"");
        QCOMPARE(notices.size(), 4);
        QCOMPARE(notices.filter("\"reloading\": true").size(), 3);
        QCOMPARE(log.lines().filter("tavi.webmodule: The page's renderer ended:").size(), 4);
        QCOMPARE(log.lines().filter("tavi.webmodule: The page stays down:").size(), 1);
        QCOMPARE(error.size(), 1);
        QVERIFY(bridge.widgets.health().value("errorState").toBool());
        auto* reload = bridge.widgets.view()->findChild<QPushButton*>("reload");
        QVERIFY(reload && reload->isVisible());
        reload->click();
        QVERIFY(waitForJs(bridge.page(), "window.bridgeReady === true", 30000));
        QVERIFY(!bridge.widgets.health().value("errorState").toBool());
    }

    // The figures of a page's health follow what it does.
    void healthFigures()
    {
        BridgePage bridge;
        QVERIFY(bridge.load());
        const QJsonObject before = bridge.widgets.health();
        QCOMPARE(before.value("rendererPid").toInteger(), bridge.page()->renderProcessPid());
        QVERIFY(before.value("rendererMemoryKb").toInteger() > 0);
        bool ok = false;
        callBridge(bridge.page(), "GetDevStatus", {}, &ok);
        QVERIFY(ok);
        bridge.widgets.InfoNotifySlot("note");
        QVERIFY(!pageCalls(bridge.page(), 1).isEmpty());
        const QJsonObject after = bridge.widgets.health();
        QCOMPARE(after.value("bridgeCalls").toInteger(),
                 before.value("bridgeCalls").toInteger() + 1);
        QCOMPARE(after.value("pushesSent").toInteger(), before.value("pushesSent").toInteger() + 1);
    }
};

QTEST_MAIN(TestPageHealth)
#include "tst_pagehealth.moc"

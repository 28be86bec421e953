// A page cannot hold the host's window: the SDK waits at most the host's
// limit, a page that loops blocking calls or reopens its dialogs at once is
// held to its budget, and the host hears of it per page.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <QtCore/QRegularExpression>
#include <QtCore/QScopeGuard>
#include <QtGui/QImage>
#include <QtWidgets/QDialog>
#include <TaviWebPage.h>
#include <numeric>

using namespace TestSupport;

namespace {

// The waits the budget allowed, in ms, from its lines for method.
QList<int> budgetCuts(const LogCapture& log, const QString& method)
{
    const QRegularExpression cut("^tavi\\.webmodule: " + method
                                 + ": time-out \\d+ ms cut to the (\\d+) ms left of the page's "
                                   "blocking budget$");
    QList<int> out;
    for (const QString& line : log.lines())
        if (const QRegularExpressionMatch m = cut.match(line); m.hasMatch())
            out << m.captured(1).toInt();
    return out;
}

// Whether method's refusal was logged ("<window> ms (its budget: <budget>
// ms); answered at once as <answer>" in tail), the time held aside.
bool refusalLogged(const LogCapture& log, const QString& method, const QString& tail)
{
    const QString head = "tavi.webmodule: Refused " + method + ": the page has held the window ";
    for (const QString& line : log.lines())
        if (line.startsWith(head) && line.endsWith(" ms of the last " + tail))
            return true;
    return false;
}

} // namespace

class TestBlocking : public QObject
{
    Q_OBJECT

private slots:
    // The page's time-out reaches the SDK at most as the host's limit (the
    // bridge of no page has no budget to cut it further), with a line.
    void requestWaitIsCapped()
    {
        QCOMPARE(dc()->RequestWaitLimit(), 5000);
        dc()->SetRequestWaitLimit(200);
        const auto restore = qScopeGuard([] { dc()->SetRequestWaitLimit(5000); });
        FakeClientSdk sdk;
        sdk.request.syncAnswer = "answer";
        SdkInstaller install(&sdk);
        LogCapture log;
        QCOMPARE(CWebComm().RequestToVmsServerSync(1, "m", "d", 60000), "answer");
        QCOMPARE(sdk.request.requests().value(0).timeout, 200);
        QCOMPARE(log.lines().filter("cut to the limit"),
                 QStringList { "tavi.webmodule: RequestToVmsServerSync: time-out 60000 ms cut to "
                               "the limit of 200 ms" });
    }

    // A page that calls again as soon as each call returns, with a host
    // that never answers or an SDK that waits the time-out, for three of the
    // host's (shortened) budget windows: the waits the module allowed add up
    // to at most its budget per window, every other call is answered at once
    // with nothing sent, and the host hears of it once a window.
    void loopingPageStaysWithinItsBudget_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("args");
        QTest::newRow("NotifyToHostSync") << "NotifyToHostSync" << QVariantList { "m", 60000 };
        QTest::newRow("RequestToVmsServerSync")
            << "RequestToVmsServerSync" << QVariantList { 1, "m", "d", 60000 };
    }

    void loopingPageStaysWithinItsBudget()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, args);
        constexpr int budgetMs = 100, windowMs = 1000, runMs = 3000;
        TaviWebPage tab(nullptr, bridgePageUrl().toString());
        VmsWebWidgets& widgets = *tab.webWidgets();
        QSignalSpy connected(&widgets, &VmsWebWidgets::bridgeConnected);
        QVERIFY(connected.wait(30000));
        widgets.setBlockingBudget(budgetMs, windowMs);
        QCOMPARE(widgets.blockingBudgetMs() + widgets.blockingWindowMs(), budgetMs + windowMs);
        QSignalSpy exceeded(&tab, &TaviWebPage::blockingBudgetExceeded);
        HostRecorder host; // never answers
        FakeClientSdk sdk;
        sdk.request.syncWaitsUpToMs = 150;
        sdk.request.syncAnswer = "answer";
        SdkInstaller install(&sdk);
        LogCapture log;

        bool ok = false;
        const QVariantList results = loopBridgeCall(pageOf(widgets), method, args, runMs, &ok);
        QVERIFY(ok);
        // The waits the module allowed, and what reached the host or the SDK.
        const QList<int> waits = budgetCuts(log, method);
        QList<int> sdkWaits;
        for (const FakeRequest& r : sdk.request.requests())
            sdkWaits << r.timeout;
        if (method == "RequestToVmsServerSync")
            QCOMPARE(sdkWaits, waits);
        else
            QCOMPARE(host.msgs().size(), waits.size());
        QCOMPARE(int(results.count("answer")), int(sdkWaits.size()));
        const int waited = std::accumulate(waits.begin(), waits.end(), 0);
        // The run lasts at most the page's time and one last wait: four
        // windows, one more for good measure.
        QVERIFY(waited >= budgetMs && waited <= budgetMs * (runMs / windowMs + 2));
        QVERIFY(results.size() > waits.size());
        QVERIFY(exceeded.size() >= 1 && exceeded.size() <= runMs / windowMs + 2);
        QCOMPARE(exceeded[0][0].toString(), method);
        QVERIFY(refusalLogged(log, method,
                              "1000 ms (its budget: 100 ms); answered at once as a time-out"));
    }

    // A page that reopens its dialog as soon as the operator closes it
    // (from a timer): its first dialog and those within the budget open,
    // then it is answered at once as if cancelled until the window has
    // passed (a long one here, so that none passes), and the host hears of
    // it once.
    void reopenedDialogBacksOff_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariant>("cancelled");
        QTest::newRow("BrowseFile") << "BrowseFile" << QVariant("");
        QTest::newRow("BrowseFilePath") << "BrowseFilePath" << QVariant("");
        QTest::newRow("ShowDevAlarmTips") << "ShowDevAlarmTips" << QVariant(false);
        QTest::newRow("ShowPicture") << "ShowPicture" << QVariant();
    }

    void reopenedDialogBacksOff()
    {
        QFETCH(QString, method);
        QFETCH(QVariant, cancelled);
        constexpr int budgetMs = 100, windowMs = 600000, tries = 30;
        ScratchDir dir;
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(dir.filePath("p.png")));
        const QVariantList args { method == "ShowPicture" ? dir.filePath("p.png") : QString() };
        BridgePage bridge;
        QVERIFY(bridge.load());
        bridge.widgets.setBlockingBudget(budgetMs, windowMs);
        QSignalSpy exceeded(&bridge.widgets, &VmsWebWidgets::blockingBudgetExceeded);
        LogCapture log;
        DialogDriver<QDialog> operatorCloses([](QDialog*) {});

        for (int i = 0; i < tries; ++i) {
            bool ok = false;
            QCOMPARE(callBridge(bridge.page(), method, args, &ok), cancelled);
            QVERIFY(ok);
        }
        // The first, and at least one more (each is open a timer's tick).
        QVERIFY(operatorCloses.count() >= 2 && operatorCloses.count() < tries);
        QCOMPARE(exceeded.size(), 1);
        QCOMPARE(exceeded[0][0].toString(), method);
        QVERIFY(refusalLogged(log, method,
                              "600000 ms (its budget: 100 ms); answered at once as cancelled"));
    }
};

QTEST_MAIN(TestBlocking)
#include "tst_blocking.moc"

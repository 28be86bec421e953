// The page library, loaded from the module's resources into a real page: a
// request through the bridge resolves with the answer the host gives later
// from a thread of its own. Its pairing logic is tested under Node.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <QtCore/QRegularExpression>
#include <TaviSim.h>
#include <vector>

using namespace TestSupport;

class TestPageLibrary : public QObject
{
    Q_OBJECT
    std::unique_ptr<BridgePage> m_host;
    std::vector<std::thread> m_hostThreads;
    QWebEnginePage* page() { return m_host->page(); }

    // Settles a page promise and returns {"value": ..} or {"error": ..}.
    QJsonObject await(const QString& promise)
    {
        evalJs(page(),
               QStringLiteral(
                   "window.settled = undefined; (%1).then(v => window.settled = { value: v },"
                   " e => window.settled = { error: String(e) }); true")
                   .arg(promise));
        waitForJs(page(), QStringLiteral("window.settled !== undefined"), 20000);
        const QString text
            = evalJs(page(), QStringLiteral("JSON.stringify(window.settled)")).toString();
        return QJsonDocument::fromJson(text.toUtf8()).object();
    }

private slots:
    void init()
    {
        m_host = std::make_unique<BridgePage>();
        QVERIFY(loadPage(m_host->widgets, QUrl(QStringLiteral("qrc:/tests/library.html"))));
        QVERIFY(waitForJs(page(), QStringLiteral("window.ready === true"), 20000));
    }

    void cleanup()
    {
        for (std::thread& t : m_hostThreads)
            t.join();
        m_hostThreads.clear();
        m_host.reset();
    }

    void requestResolvesWithTheAnswerFromAHostThread_data()
    {
        QTest::addColumn<int>("ack");
        QTest::addColumn<QString>("body");
        QTest::newRow("plain") << 0 << QStringLiteral("{\"result\":\"ok\"}");
        QTest::newRow("negative ack, quotes") << -7 << QStringLiteral("it's \"bad\" \\ 100%2F");
    }

    void requestResolvesWithTheAnswerFromAHostThread()
    {
        QFETCH(int, ack);
        QFETCH(QString, body);
        FakeClientSdk sdk;
        SdkInstaller installed(&sdk);
        sdk.request.onRequest = [this, ack, msg = body.toUtf8()](const FakeRequest& r) {
            m_hostThreads.emplace_back([sn = r.sn, ack, msg]() mutable {
                __tagKelCommand cmd {};
                cmd.sn = sn.data();
                cmd.msg = msg.data();
                cmd.ack = ack;
                WebViewDataCenter::GetInstance()->FuncResponeCallback(&cmd);
            });
        };
        const QJsonObject settled
            = await(QStringLiteral("window.tavi.request(1001, 'hello', 'cam-1')"));
        const QList<FakeRequest> sent = sdk.request.requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(QList<QByteArray>({ QByteArray::number(sent[0].cmd), sent[0].msg, sent[0].devid }),
                 QList<QByteArray>({ "1001", "hello", "cam-1" }));
        const QJsonObject expected { { "sn", QString::fromUtf8(sent[0].sn) },
                                     { "ack", ack },
                                     { "msg", body } };
        QCOMPARE(settled, (QJsonObject { { "value", expected } }));
    }

    // Every console message of a page reaches the host's log on one line;
    // over 100 a second they are dropped and counted. In one turn the page
    // prints more than that.
    void consoleReachesTheHostLog()
    {
        TaviSim::clearLog();
        QVERIFY(evalJs(page(), QStringLiteral("printLines(1000); true")).toBool());
        const QRegularExpression droppedLine(
            QStringLiteral("^\\[PageConsole\\] qrc:/tests/library.html: (\\d+) console lines "
                           "dropped \\(at most 100 a second\\)$"));
        QStringList logged;
        int dropped = 0;
        const auto read = [&] {
            logged.clear();
            dropped = 0;
            for (const QString& line : TaviSim::logLines()) {
                const QRegularExpressionMatch m = droppedLine.match(line);
                if (m.hasMatch())
                    dropped += m.captured(1).toInt();
                else
                    logged << line;
            }
            return logged.size() + dropped;
        };
        QTRY_COMPARE_WITH_TIMEOUT(read(), 1003, 10000);
        QVERIFY(dropped > 0);
        const QString at = QStringLiteral("[PageConsole] %1 qrc:/tests/library.html: %2 "
                                          "(qrc:/tests/library.html:%3)");
        QCOMPARE(
            logged.mid(0, 4),
            QStringList({ at.arg("info", "info\\nand a second line", "11"),
                          at.arg("warning", "a warning", "12"), at.arg("error", "an error", "13"),
                          at.arg("info", "line 0", "15") }));
    }
};

QTEST_MAIN(TestPageLibrary)
#include "tst_pagelibrary.moc"

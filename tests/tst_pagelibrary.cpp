// The page library, loaded from the module's resources into a real page: a
// request through the bridge resolves with the answer the host gives later
// from a thread of its own; what the policy refuses rejects with the reason.
// Its pairing logic is tested under Node.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <QtCore/QRegularExpression>
#include <TaviSim.h>
#include <WebAccessPolicy.h>
#include <WebPage.h>
#include <vector>

using namespace TestSupport;

class TestPageLibrary : public QObject
{
    Q_OBJECT
    std::unique_ptr<BridgePage> m_host;
    std::vector<std::thread> m_hostThreads;
    QWebEnginePage* page() { return m_host->page(); }

    // Settles a page promise and returns {"value": ..} or {"error": {class:
    // whether the library's error class, code, reason}}.
    QJsonObject await(const QString& promise)
    {
        evalJs(page(),
               QStringLiteral(
                   "window.settled = undefined; (%1).then(v => window.settled = { value: v },"
                   " e => window.settled = { error: { class: e instanceof TaviWeb.TaviWebError,"
                   " code: e.code, reason: e.reason } }); true")
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
        WebAccessPolicy::global().setTrustedOrigins({});
        WebAccessPolicy::global().setFileRoots({}, {});
        CWebPage::m_strDownloadPath.clear();
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
                dc()->FuncResponeCallback(&cmd);
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

    // A call the policy refuses rejects in the page with the library's error
    // class and the reason the bridge told; an allowed one resolves.
    void refusalsReachThePage_data()
    {
        QTest::addColumn<QString>("call"); // {D}: a scratch folder, "in" its write root
        QTest::addColumn<QString>("reason"); // empty: resolves
        const auto add = [](const char* name, const char* call, const char* reason) {
            QTest::newRow(name) << QString(call) << QString(reason);
        };
        add("outside the roots, off the GUI thread",
            "tavi.saveSnapshot('data:image/png;base64,AA', 'c', 1, '{D}/out/a.png')",
            "outside-file-roots");
        add("a URL", "tavi.showPicture('http://127.0.0.1/a.png')", "url-not-path");
        add("an empty path", "tavi.playSound('')", "empty-path");
        add("trust withdrawn", "tavi.devSessionId('cam-1')", "untrusted-document");
        add("allowed", "tavi.setDownloadPath('{D}/in')", "");
    }
    void refusalsReachThePage()
    {
        QFETCH(QString, call);
        QFETCH(QString, reason);
        ScratchDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("in")));
        WebAccessPolicy::global().setFileRoots({}, { dir.filePath("in") });
        if (reason == "untrusted-document")
            WebAccessPolicy::global().setTrustedOrigins({ "https://vms.example" });
        const QJsonObject error { { "class", true }, { "code", "refused" }, { "reason", reason } };
        QCOMPARE(await(dir.fill(call)).value("error").toObject(),
                 reason.isEmpty() ? QJsonObject() : error);
    }

    // In a document the host does not trust connect() fails at once (not by
    // its time-out) with the library's error and the reason; given a
    // stand-in, the page connects to that.
    void connectInAnUntrustedDocument()
    {
        WebAccessPolicy::global().setTrustedOrigins({ "https://vms.example" });
        QVERIFY(loadPage(m_host->widgets, QUrl("qrc:/tests/library.html?plain")));
        QVERIFY(waitForJs(page(), "window.connectError", 20000));
        QCOMPARE(evalJs(page(), "JSON.stringify(window.connectError)").toString(),
                 R"({"class":true,"code":"no-bridge","reason":"untrusted-document"})");
        QVERIFY(loadPage(m_host->widgets, QUrl("qrc:/tests/library.html?stand-in")));
        QVERIFY(waitForJs(page(), "window.ready", 20000));
        QCOMPARE(evalJs(page(), "window.withheld").toString(), "untrusted-document");
        QCOMPARE(await("tavi.devSessionId('cam-lobby')"),
                 (QJsonObject { { "value", "sess-cam-lobby" } }));
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

// The demo host as a page author runs it, headless: what it says and its exit
// code for a path that names no file, a page that does not load, a local page
// with its query and fragment, and the demo page's tour with the inspector
// and remote debugging.

#include "TestSupport.h"

#include <QtCore/QProcess>
#include <QtNetwork/QTcpServer>

class TestDemoHost : public QObject
{
    Q_OBJECT
private slots:
    void headlessRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        // In the transcript; on standard error when the run never started.
        QTest::addColumn<QStringList>("says");
        const QString page = QStringLiteral(TAVI_TEST_PAGES "/bridge.html");
        QTcpServer free;
        QVERIFY(free.listen(QHostAddress::LocalHost));
        const QString port = QString::number(free.serverPort());
        free.close();

        QTest::newRow("no such file")
            << QStringList { "--url", "no/such/page.html#tour" } << 2
            << QStringList { "tavi-demo: no such file: ", "/no/such/page.html (a web address" };
        QTest::newRow("not loaded")
            << QStringList { "--url", "qrc:/no/such/page.html" } << 3
            << QStringList { "[host] the page did not load: qrc:/no/such/page.html: "
                             "net::ERR_FILE_NOT_FOUND (error -6)" };
        QTest::newRow("path with query and fragment")
            << QStringList { "--url", page + "?late#tour", "--quit-after", "1000" } << 0
            << QStringList { "[host] opening file://" + page + "?late#tour" };
        QTest::newRow("tour with the inspector")
            << QStringList { "--devtools", "--remote-debugging", port } << 0
            << QStringList { "[host] DevTools loaded: devtools://",
                             "[host] remote debugging on http://127.0.0.1:" + port
                                 + " (loopback only), pages: qrc:/demo/index.html",
                             "[page info] tour finished", "[module push result] \"\"" };
    }

    void headlessRun()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, says);
        QTemporaryDir dir;
        QProcess demo;
        demo.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), dir.path()); // its scratch folders go with dir
        demo.setProcessEnvironment(env);
        demo.start(QStringLiteral(TAVI_DEMO), QStringList { "--headless" } + args);
        QVERIFY(demo.waitForFinished(180000));
        QFile transcript(dir.filePath(QStringLiteral("tavi-demo-transcript.txt")));
        const QString text = transcript.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(transcript.readAll())
            : QString::fromUtf8(demo.readAllStandardError());
        QCOMPARE(demo.exitCode(), exitCode);
        for (const QString& line : says)
            QVERIFY2(text.contains(line),
                     qPrintable(line + QStringLiteral(" not in …") + text.right(700)));
    }
};

QTEST_MAIN(TestDemoHost)
#include "tst_demohost.moc"

// Server requests through the data center, without a page: the request
// lines hosts read word for word, what reaches the host's SDK, and the
// warning when the host has set none.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QRegularExpression>
#include <climits>

using namespace TestSupport;

class TestServerRequests : public QObject
{
    Q_OBJECT

private slots:
    // The log lines quote every text; null pointers reach the SDK as null.
    // A synchronous answer loses its line breaks (not in the log) and ends at
    // a NUL; the time-out is passed on unchanged.
    void requestsLogAndReachTheSdk()
    {
        FakeClientSdk sdk;
        sdk.request.asyncResult = -7;
        sdk.request.syncResult = 4;
        SdkInstaller install(&sdk);
        LogCapture log;
        QByteArray devid("cam \"1\"");
        QCOMPARE(dc()->RequestToServer(-2, "{\"a\":1}\nb\\c\t", "sn-1", devid.data()), -7);
        QCOMPARE(dc()->RequestToServer(-2, nullptr, nullptr, nullptr), -7);
        QString answer;
        sdk.request.syncAnswer = "{\r\n\t\"a\": 1\n}";
        QCOMPARE(dc()->RequestToServerSync(12, "q=1", devid.data(), INT_MAX, answer), 4);
        QCOMPARE(answer, "{\"a\": 1}");
        sdk.request.syncAnswer = std::string("head\0tail", 9);
        QCOMPARE(dc()->RequestToServerSync(12, "", nullptr, INT_MIN, answer), 4);
        QCOMPARE(answer, "head");
        QCOMPARE(
            log.debugLines(),
            (QStringList { "RequestToServer:cmd= -2 devid= \"cam \\\"1\\\"\" sn= \"sn-1\" param= "
                           "\"{\\\"a\\\":1}\\nb\\\\c\\t\"",
                           "RequestToServer:cmd= -2 devid= \"\" sn= \"\" param= \"\"",
                           "RequestToServerSync:cmd= 12 devid= \"cam \\\"1\\\"\" msg= \"q=1\"",
                           "RequestToServerSync:result= \"{\\r\\n\\t\\\"a\\\": 1\\n}\"",
                           "RequestToServerSync:cmd= 12 devid= \"\" msg= \"\"",
                           "RequestToServerSync:result= \"head\"" }));
        const QList<FakeRequest> sent = sdk.request.requests();
        QCOMPARE(sent.size(), 4);
        QCOMPARE(QList<QByteArray>({ sent[0].msg, sent[0].sn, sent[0].devid }),
                 QList<QByteArray>({ "{\"a\":1}\nb\\c\t", "sn-1", devid }));
        QVERIFY(sent[1].msg.isNull() && sent[1].sn.isNull() && sent[1].devid.isNull());
        QCOMPARE(std::make_pair(sent[2].timeout, sent[3].timeout),
                 std::make_pair(INT_MAX, INT_MIN));
    }

    // The request line is built by hand for speed; whatever the text, it
    // must read exactly as Qt's own debug stream writes the same values.
    void requestLineAsTheDebugStreamWritesIt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain ASCII") << "{\"cmd\":1}";
        QTest::newRow("backslash and quote") << "a\\b\"c";
        QTest::newRow("control characters") << "tab\there\r\n\x01\x7f";
        QTest::newRow("printable non-ASCII") << QString::fromUtf8("Kamera Süd, 摄像机");
        QTest::newRow("longer than the kept buffer") << QString(20000, '"');
    }

    void requestLineAsTheDebugStreamWritesIt()
    {
        QFETCH(QString, text);
        FakeClientSdk sdk;
        SdkInstaller install(&sdk);
        const QByteArray utf8 = text.toUtf8();
        QByteArray devid = utf8;
        QString expected;
        QDebug(&expected).nospace()
            << "RequestToServer:cmd= 7 devid= " << QString::fromUtf8(utf8)
            << " sn= " << QString::fromUtf8(utf8) << " param= " << QString::fromUtf8(utf8);
        LogCapture log;
        dc()->RequestToServer(7, utf8.constData(), utf8.constData(), devid.data());
        QCOMPARE(log.debugLines(), QStringList { expected });
    }

    // Without the host's SDK every request fails with -1 and an empty answer
    // or session id, and the host sees why at its default settings: a
    // warning, at most one a second for each cause however often a page
    // asks, the rest counted when the second is over.
    void missingSdk_data()
    {
        QTest::addColumn<bool>("haveClientSdk");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("about"); // of the count
        QTest::newRow("no client SDK") << false << "no client SDK, request not sent"
                                       << "requests without a client SDK";
        QTest::newRow("no request interface")
            << true << "client SDK has no request interface, request not sent"
            << "requests without the SDK's request interface";
    }

    void missingSdk()
    {
        QFETCH(bool, haveClientSdk);
        QFETCH(QString, reason);
        QFETCH(QString, about);
        FakeClientSdk sdk;
        sdk.requestAvailable = false;
        SdkInstaller install(haveClientSdk ? &sdk : nullptr);
        QByteArray devid("d");
        LogCapture log(LogCapture::AsHostSees);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(dc()->RequestToServer(1, "m", "s", devid.data()), -1);
        QString result = QStringLiteral("stale");
        QCOMPARE(dc()->RequestToServerSync(2, "m", devid.data(), 300, result), -1);
        QVERIFY(result.isEmpty());
        std::string session = "stale";
        QCOMPARE(dc()->GetDevSessionId("d", session), -1);
        QVERIFY(session.empty());
        const int n = 500;
        for (int i = 3; i < n; ++i)
            dc()->RequestToServer(1, "m", "s", devid.data());
        const qint64 elapsed = clock.elapsed();
        const QStringList warnings = log.lines().filter(QRegularExpression(
            "^tavi\\.webmodule: \\w+: " + QRegularExpression::escape(reason) + "$"));
        QVERIFY2(warnings.size() <= elapsed / 1000 + 1, qPrintable(warnings.join('\n')));
        // Every one either written or counted.
        QTRY_COMPARE_WITH_TIMEOUT(int(warnings.size()) + log.dropped(about, 1), n, 5000);
        // The request lines stand as they always did, the warning beside them.
        QCOMPARE(log.lines().mid(0, 3),
                 (QStringList { R"(RequestToServer:cmd= 1 devid= "d" sn= "s" param= "m")",
                                "tavi.webmodule: RequestToServer: " + reason,
                                R"(RequestToServerSync:cmd= 2 devid= "d" msg= "m")" }));
    }
};

QTEST_MAIN(TestServerRequests)
#include "tst_serverrequests.moc"

// The channel relay without a page: the page's messages go in through a
// transport of the test's own, as in qtwebchannel's own tests, and what
// comes out is compared with what a bare QWebChannel answers.

#include "FakeSdk.h"
#include "TestSupport.h"

#include <ChannelRelay.h>
#include <QtCore/QElapsedTimer>
#include <QtCore/QRegularExpression>
#include <QtWebChannel/QWebChannel>

using namespace TestSupport;

namespace {

// The page's end: the test hands it messages, and it keeps the answers.
class DummyTransport : public QWebChannelAbstractTransport
{
public:
    void sendMessage(const QJsonObject& message) override { sent.append(message); }
    void receive(const QJsonObject& message) { Q_EMIT messageReceived(message, this); }
    QList<QJsonObject> sent;
};

QJsonObject message(const QString& json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

const QString kOrigin = QStringLiteral("https://page.test");

// A bridge on its channel, which the page reaches directly or through the
// relay.
struct Bridge
{
    CWebComm bridge;
    QWebChannel channel;
    DummyTransport transport;
    QObject page; // holds the relay and the budget of its warnings

    explicit Bridge(bool relayed)
    {
        channel.registerObject(QStringLiteral("CWebComm"), &bridge);
        channel.connectTo(&transport);
        if (relayed)
            new TaviWebModuleInternal::ChannelRelay(
                &channel, &transport, &page, [] { return kOrigin; }, &page);
    }
};

} // namespace

class TestChannelRelay : public QObject
{
    Q_OBJECT

private slots:
    // The relay makes some calls of the bridge itself, for speed, and hands
    // the others to the channel by index: each answer, and what reached the
    // SDK, must be the channel's own. Rows with arguments the channel has to
    // convert, or calls the name alone does not decide, go to the channel.
    void answersAsTheChannel_data()
    {
        QTest::addColumn<QString>("message");
        const QString invoke
            = R"({"type": 6, "object": "CWebComm", "method": "%1", "args": %2, "id": 7})";
        QTest::newRow("init") << R"({"type": 3, "id": 1})";
        QTest::newRow("int result")
            << invoke.arg("RequestToVmsServer", "[1001, \"{\\\"a\\\":1}\", \"s\", \"d\"]");
        QTest::newRow("int with a fraction")
            << invoke.arg("RequestToVmsServer", R"([1.5, "", "", ""])");
        QTest::newRow("int out of range")
            << invoke.arg("RequestToVmsServer", R"([3e9, "", "", ""])");
        QTest::newRow("int as text") << invoke.arg("RequestToVmsServer", R"(["7", "", "", ""])");
        QTest::newRow("text as number") << invoke.arg("RequestToVmsServer", R"([7, 8, "", ""])");
        QTest::newRow("text result") << invoke.arg("GetDevSessionId", R"(["cam-1"])");
        QTest::newRow("void result") << invoke.arg("GetUserToken", "[]");
        QTest::newRow("default argument") << invoke.arg("NotifyToHostSync", R"(["m", 1])");
        QTest::newRow("by signature") << invoke.arg("GetDevSessionId(QString)", R"(["cam-1"])");
        QTest::newRow("too many arguments") << invoke.arg("GetUserToken", "[1]");
        QTest::newRow("unknown name") << invoke.arg("Nope", "[]");
        QTest::newRow("unknown index")
            << R"({"type": 6, "object": "CWebComm", "method": 100000, "args": [], "id": 7})";
        QTest::newRow("no id")
            << R"({"type": 6, "object": "CWebComm", "method": "RequestToVmsServer",
                   "args": [1, "m", "s", "d"]})";
    }

    void answersAsTheChannel()
    {
        QFETCH(QString, message);
        FakeClientSdk sdk;
        sdk.request.asyncResult = 17;
        sdk.request.sessionIdAnswer = "session-1";
        SdkInstaller install(&sdk);
        // The answers the page's transport received, then what the SDK did.
        const auto outcome = [&](bool relayed) {
            Bridge side(relayed);
            const qsizetype before = sdk.request.requests().size();
            side.transport.receive(::message(message));
            QStringList out;
            for (const QJsonObject& m : std::as_const(side.transport.sent))
                out << QString::fromUtf8(QJsonDocument(m).toJson(QJsonDocument::Compact));
            for (const FakeRequest& r : sdk.request.requests().mid(before))
                out << QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(r.cmd)
                           .arg(QString::fromUtf8(r.msg), QString::fromUtf8(r.sn),
                                QString::fromUtf8(r.devid))
                           .arg(r.msg.isNull());
            return out;
        };
        const QStringList channel = outcome(false);
        QCOMPARE(outcome(true), channel);
    }

    // What Qt would write raw to stdout, or warn about for each message,
    // becomes one escaped line of the module's; the channel sees none of it.
    void filteredMessages_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::newRow("debug message")
            << R"({"type": 5, "data": "D1\nforged\u001b"})"
            << "Channel debug message from " + kOrigin + ": D1\\nforged\\x1b";
        QTest::newRow("unknown object")
            << R"({"type": 6, "object": "Nope\n", "method": "x", "args": [], "id": 1})"
            << "Refused a channel message for unknown object Nope\\n from " + kOrigin;
        QTest::newRow("unknown method")
            << R"({"type": 6, "object": "CWebComm", "method": "Nope\n", "args": [1], "id": 1})"
            << "Refused a call of unknown method Nope\\n with 1 arguments of CWebComm from "
                + kOrigin;
        QTest::newRow("unknown method index")
            << R"({"type": 6, "object": "CWebComm", "method": 100000, "args": [], "id": 1})"
            << "Refused a call of unknown method 100000 with 0 arguments of CWebComm from "
                + kOrigin;
    }

    void filteredMessages()
    {
        QFETCH(QString, message);
        QFETCH(QString, line);
        Bridge side(true);
        LogCapture log;
        side.transport.receive(::message(message));
        QCOMPARE(log.lines(), QStringList { "tavi.webmodule: " + line });
        // A call is answered as the channel answers it (see answersAsTheChannel).
        QCOMPARE(side.transport.sent.size(), line.contains("unknown method") ? 1 : 0);
    }

    // Messages for unknown objects or methods in a loop make at most 20 lines
    // a second and a count of the rest, none lost from the count; another
    // refusal right after the flood still gets its line.
    void floods_data()
    {
        QTest::addColumn<QString>("flood"); // "%1" the message's number
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("afterLine");
        QTest::newRow("unknown objects")
            << R"({"type": 6, "object": "x", "method": "y", "id": %1})"
            << "Refused a channel message for unknown object x from " + kOrigin
            << R"({"type": 6, "object": "z", "method": "y", "id": 0})"
            << "Refused a channel message for unknown object z from " + kOrigin;
        QTest::newRow("unknown methods")
            << R"({"type": 6, "object": "CWebComm", "method": "y", "args": [], "id": %1})"
            << "Refused a call of unknown method y with 0 arguments of CWebComm from " + kOrigin
            << R"({"type": 6, "object": "CWebComm", "method": "z", "args": [], "id": 0})"
            << "Refused a call of unknown method z with 0 arguments of CWebComm from " + kOrigin;
    }
    void floods()
    {
        QFETCH(QString, flood);
        QFETCH(QString, line);
        QFETCH(QString, after);
        QFETCH(QString, afterLine);
        const int n = 1000;
        Bridge side(true);
        const QString each = "tavi.webmodule: " + line;
        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < n; ++i)
            side.transport.receive(::message(flood.arg(i)));
        side.transport.receive(::message(after));
        const qint64 elapsed = clock.elapsed();
        const int lines = int(log.lines().count(each));
        QVERIFY2(lines <= 20 * (elapsed / 1000 + 1), qPrintable(QString::number(lines)));
        QVERIFY(log.contains("tavi.webmodule: " + afterLine));
        QTRY_COMPARE_WITH_TIMEOUT(lines + log.dropped("channel messages from " + kOrigin, 20), n,
                                  5000);
    }
};

QTEST_MAIN(TestChannelRelay)
#include "tst_channelrelay.moc"

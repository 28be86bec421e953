// Host events: the data center's one instance, what each host callback
// emits, and the pushes into real pages. Every page function receives
// exactly its arguments, in every open page, whichever thread the host emits
// on, and no text can break the call or run script of its own.

#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

using namespace TestSupport;

namespace {

// A null QByteArray stands for a null C string.
char* cstr(QByteArray& text)
{
    return text.isNull() ? nullptr : text.data();
}

} // namespace

class TestHostEvents : public QObject
{
    Q_OBJECT
    std::unique_ptr<BridgePage> m_first, m_second;
    QList<QWebEnginePage*> pages() { return { m_first->page(), m_second->page() }; }
    WebViewDataCenter* dc() { return WebViewDataCenter::GetInstance(); }

private slots:
    // Threads race for the first instance, which must not exist yet; then
    // two pages open.
    void initTestCase()
    {
        std::atomic<bool> go { false };
        std::vector<WebViewDataCenter*> seen(8, nullptr);
        std::vector<std::thread> threads;
        for (WebViewDataCenter*& p : seen)
            threads.emplace_back([&go, &p] {
                while (!go)
                    std::this_thread::yield();
                p = WebViewDataCenter::GetInstance();
            });
        go = true;
        for (std::thread& t : threads)
            t.join();
        QVERIFY(seen[0]);
        QCOMPARE(std::count(seen.begin(), seen.end(), seen[0]), 8);
        QCOMPARE(dc(), seen[0]);
        m_first = std::make_unique<BridgePage>();
        m_second = std::make_unique<BridgePage>();
        QVERIFY(m_first->load() && m_second->load());
    }

    void init()
    {
        for (QWebEnginePage* page : pages())
            clearPageCalls(page);
    }

    void hostNotice_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("null pointer") << QByteArray() << QString();
        QTest::newRow("utf-8") << QByteArray("\xe5\xbf\xab\xe7\x85\xa7 caf\xc3\xa9")
                               << QStringLiteral("快照 café");
    }

    void hostNotice()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        HostRecorder host;
        QCOMPARE(dc()->NotifyToHost(cstr(input)), 0);
        QCOMPARE(host.notices(), QStringList { expected });
    }

    // Line breaks leave the message and the value, never the sn or the key.
    void serverResponseAndDataCache_data()
    {
        QTest::addColumn<QByteArray>("first"); // sn, or key
        QTest::addColumn<QByteArray>("second"); // msg, or value
        QTest::addColumn<int>("ack");
        QTest::addColumn<QString>("firstOut");
        QTest::addColumn<QString>("secondOut");
        QTest::newRow("nulls") << QByteArray() << QByteArray() << 3 << ""
                               << "";
        QTest::newRow("line breaks")
            << QByteArray("a\tb\n") << QByteArray("{\r\n    \"a\": 1\n}\t") << -5 << "a\tb\n"
            << "{    \"a\": 1}";
        QTest::newRow("utf-8, lowest ack")
            << QByteArray("\xe5\xba\x8f-1")
            << QByteArray("\xe6\x8a\xa5\xe8\xad\xa6 \xf0\x9f\x98\x80") << INT_MIN
            << QStringLiteral("序-1") << QStringLiteral("报警 😀");
    }

    void serverResponseAndDataCache()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(int, ack);
        QFETCH(QString, firstOut);
        QFETCH(QString, secondOut);

        QSignalSpy responses(dc(), &WebViewDataCenter::emitServerRespone);
        __tagKelCommand record {};
        record.sn = cstr(first);
        record.msg = cstr(second);
        record.ack = ack;
        dc()->FuncResponeCallback(&record);
        QCOMPARE(responses.count(), 1);
        QCOMPARE(responses[0], (QVariantList { firstOut, ack, secondOut }));

        QSignalSpy cache(dc(), &WebViewDataCenter::emitDataCacheNotify);
        dc()->FuncDataCacheCallback(cstr(first), cstr(second));
        QCOMPARE(cache.count(), 1);
        QCOMPARE(cache[0], (QVariantList { firstOut, secondOut }));
    }

    void nullCommandRecordIsIgnored()
    {
        QSignalSpy spy(dc(), &WebViewDataCenter::emitServerRespone);
        LogCapture log;
        dc()->FuncResponeCallback(nullptr);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(
            log.debugLines(),
            QStringList { "tavi.webmodule: FuncResponeCallback: null command record ignored" });
    }

    // Devices by the bytes of their ids, channels by number; the map stays as it was.
    void deviceStatusJson()
    {
        DeviceStatusMap map;
        map["a"][1] = 0;
        map["B"][10] = 1;
        map["B"][2] = 0;
        map["\xe9\x97\xa8-\"1\""][-3] = -7;
        const DeviceStatusMap before = map;
        QSignalSpy spy(dc(), &WebViewDataCenter::emitDevStatus);
        dc()->DevStatusUpdate(map);
        QVERIFY(map == before);
        QCOMPARE(spy.count(), 1);
        const auto device = [](const char* guid, const QList<std::pair<int, int>>& channels) {
            QJsonArray info;
            for (const auto& [id, status] : channels)
                info.append(QJsonObject { { "channelId", id }, { "status", status } });
            return QJsonObject { { "guid", QString::fromUtf8(guid) }, { "info", info } };
        };
        const QJsonArray expected { device("B", { { 2, 0 }, { 10, 1 } }), device("a", { { 1, 0 } }),
                                    device("\xe9\x97\xa8-\"1\"", { { -3, -7 } }) };
        const QString text = spy[0][0].toString();
        QCOMPARE(text, QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Indented)));
    }
    // The token of a "userToken" notice goes to emitUserToken on its own.
    void userToken_data()
    {
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("token");
        const QString json
            = "{\n    \"cmd\": \"userToken\",\n    \"data\": {\"token\": \"%1\"}\n}\n";
        QTest::newRow("token") << json.arg("tok-1") << "tok-1";
        QTest::newRow("not JSON") << "userToken=abc"
                                  << "";
        QTest::newRow("hostile token")
            << json.arg("a'b\\\\c\\u2028") << QStringLiteral("a'b\\c\u2028");
    }

    void userToken()
    {
        QFETCH(QString, notice);
        QFETCH(QString, token);
        emit dc()->emitInfoNotify(notice);
        for (QWebEnginePage* page : pages())
            QCOMPARE(pageCalls(page, 1), callsText({ { "emitUserToken", { token } } }));
    }

    // Each from a host thread: every function gets its arguments exactly, in
    // both pages; only the device status and notices lose their line feeds.
    void hostileTextsArriveIntact_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes") << "it's \"hi\"";
        QTest::newRow("backslashes") << "C:\\dir\\ \\'";
        QTest::newRow("CR LF tab") << "a\r\n\tb\nc\rd";
        QTest::newRow("U+2028 U+2029") << QStringLiteral("a\u2028b\u2029c");
        QTest::newRow("controls: NUL, ESC, C1, DEL")
            << QString::fromUtf16(u"a\u0000b\u001bc\u0085d\u007f", 8);
        QTest::newRow("emoji, lone surrogate")
            << QStringLiteral("😀 café 报警 ") + QChar(0xd83d) + QStringLiteral("x");
        QTest::newRow("place markers, url-encoded") << "%1 %2 %3 http%3A%2F%2Fhost%2Fa%2F";
        QTest::newRow("injection") << "'); window.injected = 1; ('";
        QTest::newRow("injection with line break") << "'\n); window.injected = 1; //";
        QTest::newRow("template and script tags") << "${window.injected = 1}`</script><b>";
    }

    void hostileTextsArriveIntact()
    {
        QFETCH(QString, text);
        const QString noLf = QString(text).remove('\n');
        std::thread([&] {
            emit dc()->emitServerRespone(text, 3, text);
            emit dc()->emitInfoNotifyEx(text, text);
            emit dc()->emitDataCacheNotify(text, text);
            emit dc()->emitDevStatus(text);
            emit dc()->emitInfoNotify(text);
        }).join();
        const QString expected = callsText({ { "emitServerRespone", { text, "3", text } },
                                             { "emitHostResponse", { text, text } },
                                             { "emitDataCacheNotify", { text, text } },
                                             { "emitDevStatus", { noLf } },
                                             { "emitInfoNotify", { noLf } } });
        for (QWebEnginePage* page : pages()) {
            QCOMPARE(pageCalls(page, 5), expected);
            QCOMPARE(evalJs(page, "typeof window.injected").toString(),
                     QStringLiteral("undefined"));
        }
    }

    void hostThreadEventsKeepTheirOrder()
    {
        QList<std::pair<QString, QStringList>> expected;
        for (int i = 0; i < 200; ++i)
            expected.append(
                { "emitServerRespone", { QString::number(i), QString::number(i), "b" } });
        std::thread([] {
            for (int i = 0; i < 200; ++i)
                emit WebViewDataCenter::GetInstance()->emitServerRespone(QString::number(i), i,
                                                                         "b");
        }).join();
        for (QWebEnginePage* page : pages())
            QCOMPARE(pageCalls(page, 200), callsText(expected));
    }

    // A widget gone takes its connections along; one made afterwards gets
    // nothing of what came before it.
    void eventsWithoutWidgetAreNotStored()
    {
        m_second.reset();
        emit dc()->emitServerRespone("only-first", 0, "x");
        std::thread([this] { emit dc()->emitDataCacheNotify("gone", "x"); }).join();
        QCOMPARE(pageCalls(m_first->page(), 2),
                 callsText({ { "emitServerRespone", { "only-first", "0", "x" } },
                             { "emitDataCacheNotify", { "gone", "x" } } }));

        m_second = std::make_unique<BridgePage>();
        QVERIFY(m_second->load());
        emit dc()->emitDataCacheNotify("after", "1");
        QCOMPARE(pageCalls(m_second->page(), 1),
                 callsText({ { "emitDataCacheNotify", { "after", "1" } } }));
    }
};

QTEST_MAIN(TestHostEvents)
#include "tst_hostevents.moc"

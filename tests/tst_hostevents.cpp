// Host events: the data center's one instance, what each host callback
// emits, and the pushes into real pages. Every page function receives
// exactly its arguments, in every open page, whichever thread the host emits
// on, and no text can break the call or run script of its own.

#include "TestSupport.h"

#include <DeviceStatusJson.h>
#include <QtCore/QRegularExpression>
#include <algorithm>
#include <climits>
#include <vector>

using namespace TestSupport;

Q_DECLARE_METATYPE(DeviceStatusMap)

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

    // What a page sends the host reaches, beside the data center's signals,
    // the signal of that page's widget only, with its sn; a host answering
    // a synchronous notification there answers the page.
    void eachPageNamesItsMessages_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("sn"); // "host": the sn the data center made
        QTest::addColumn<QString>("result");
        QTest::newRow("notification") << "NotifyToHost" << QVariantList { "hi", "p-1" } << "p-1"
                                      << "0";
        QTest::newRow("synchronous, answered per page")
            << "NotifyToHostSync" << QVariantList { "ask", 2000 } << "host"
            << "answered ask";
        QTest::newRow("notice") << "GetUserToken" << QVariantList() << ""
                                << "";
    }
    void eachPageNamesItsMessages()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, args);
        QFETCH(QString, sn);
        QFETCH(QString, result);
        HostRecorder host;
        QSignalSpy mine(&m_first->widgets, &VmsWebWidgets::notifiedHost);
        QSignalSpy other(&m_second->widgets, &VmsWebWidgets::notifiedHost);
        const QMetaObject::Connection answering
            = connect(&m_first->widgets, &VmsWebWidgets::notifiedHost,
                      [](const QString& m, const QString& s) {
                          QString answer = "answered " + m, key = s;
                          if (m == "ask")
                              dc()->NotifyResult(answer, key);
                      });
        bool ok = false;
        const QVariant got = callBridge(m_first->page(), method, args, &ok);
        disconnect(answering);
        QVERIFY(ok);
        QCOMPARE(got.toString(), result);
        const QStringList sent { (host.msgs() + host.notices()).value(0),
                                 sn == "host" ? host.sns().value(0) : sn };
        QCOMPARE(QList<QVariantList>(mine), QList<QVariantList>({ { sent[0], sent[1] } }));
        QVERIFY(other.isEmpty());
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
        dc()->FuncResponeCallback(nullptr);
        QCOMPARE(spy.count(), 0);
    }

    // The text is byte for byte QJsonDocument's indented form of the map (as
    // the module once built it), devices by the bytes of their ids, channels
    // by number; the map stays as it was. A big map's text comes from the
    // module's thread, still before that of a later small map.
    void deviceStatusJson_data()
    {
        QTest::addColumn<DeviceStatusMap>("map");
        DeviceStatusMap order, ids, controls, numbers, many;
        order["a"][1] = 0;
        order["B"][10] = 1;
        order["B"][2] = 0;
        order["A1"];
        order["empty"];
        for (const char* id : { "\xe9\x97\xa8-\"1\"", "caf\xc3\xa9 \xf0\x9f\x98\x80", "C:\\d\\'x'",
                                "a/b <\xe2\x80\xa8\xc2\x85>" })
            ids[id][1] = 1;
        for (int c = 0; c < 0x20; ++c)
            controls[std::string("id-") + char(c) + '-'][c] = c;
        controls["\x7f \x80\xff \xed\xa0\x80"][0] = 0; // DEL and bytes that are no UTF-8
        controls[std::string("nul\0inside", 10)][0] = 0;
        for (int v : { INT_MIN, INT_MIN + 1, -10, -1, 0, 9, 10, 99999, INT_MAX })
            numbers["n"][v] = ~v; // INT_MIN and INT_MAX also as statuses
        for (int d = 0; d < 10000; ++d)
            for (int c = 1; c <= 16; ++c)
                many["dev-" + std::to_string(d)][c] = (d * c) % 5 - 1;
        QTest::newRow("empty map") << DeviceStatusMap();
        QTest::newRow("order, devices without channels") << order;
        QTest::newRow("non-ASCII ids, quotes, backslashes") << ids;
        QTest::newRow("control characters, invalid UTF-8, NUL") << controls;
        QTest::newRow("negative and large numbers") << numbers;
        QTest::newRow("10,000 devices of 16 channels") << many;
    }

    void deviceStatusJson()
    {
        QFETCH(DeviceStatusMap, map);
        QJsonArray devices;
        for (const auto& [id, channels] : map) {
            QJsonArray info;
            for (const auto& [channel, status] : channels)
                info.append(QJsonObject { { "channelId", channel }, { "status", status } });
            devices.append(QJsonObject {
                { "guid", QString::fromUtf8(id.data(), qsizetype(id.size())) }, { "info", info } });
        }
        const DeviceStatusMap before = map;
        DeviceStatusMap after { { "after", { { 1, 1 } } } };
        QSignalSpy spy(dc(), &WebViewDataCenter::emitDevStatus);
        std::thread([&] {
            dc()->DevStatusUpdate(map);
            dc()->DevStatusUpdate(after);
        }).join();
        QVERIFY(map == before);
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(spy[0][0].toString(),
                 QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Indented)));
        QVERIFY(spy[1][0].toString().contains("\"after\""));
        for (QWebEnginePage* page : pages())
            QVERIFY(waitForJs(page, "window.calls.length === 2"));
    }

    // The token of a "userToken" notice goes to emitUserToken on its own
    // (through the escaping of every push: hostileTextsArriveIntact).
    void userToken_data()
    {
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("token");
        const QString json
            = "{\n    \"cmd\": \"userToken\",\n    \"data\": {\"token\": \"%1\"}\n}\n";
        QTest::newRow("token") << json.arg("tok-1") << "tok-1";
        QTest::newRow("not JSON") << "userToken=abc"
                                  << "";
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

    // A burst from three host threads into both pages, with a device status
    // long enough to go in pieces and a page function that throws in the
    // middle: every push arrives once, each thread's in their order; the
    // exception reaches the console as uncaught; each push logs its value
    // (in the second page, none).
    void burstFromHostThreads()
    {
        constexpr int kThreads = 3, kEach = 400;
        const QString thrown = "1-200";
        DeviceStatusMap devices;
        for (int d = 0; d < 5000; ++d)
            devices["dev-" + std::to_string(d)][1] = d % 3;
        const QString status = TaviWebModuleInternal::deviceStatusJson(devices).remove('\n');
        for (QWebEnginePage* page : pages())
            evalJs(page,
                   "window.throwOn = '" + thrown
                       + "'; window.silent = " + (page == m_second->page() ? "true" : "false"));
        LogCapture log;
        std::vector<std::thread> hosts;
        for (int t = 0; t < kThreads; ++t)
            hosts.emplace_back([t, &devices] {
                for (int i = 0; i < kEach; ++i) {
                    emit dc()->emitServerRespone(QStringLiteral("%1-%2").arg(t).arg(i), i, "b");
                    if (t == 2 && i == kEach / 2)
                        dc()->DevStatusUpdate(devices);
                }
            });
        for (std::thread& host : hosts)
            host.join();
        const int total = kThreads * kEach + 1;
        QStringList values;
        for (QWebEnginePage* page : pages()) {
            const QJsonArray calls
                = QJsonDocument::fromJson(pageCalls(page, total).toUtf8()).array();
            QCOMPARE(calls.size(), total);
            std::vector<int> next(kThreads, 0);
            for (const QJsonValue& call : calls) {
                const QJsonArray args = call["args"].toArray();
                if (call["fn"] == "emitDevStatus") {
                    QCOMPARE(args[0].toString(), status);
                    continue;
                }
                const QStringList sn = args[0].toString().split('-');
                QCOMPARE(sn[1].toInt(), next[sn[0].toInt()]++);
            }
            QCOMPARE(next, std::vector<int>(kThreads, kEach));
            const bool silent = page == m_second->page();
            for (int i = 1; i <= total; ++i)
                values << (silent || calls[i - 1]["args"][0] == thrown ? "\"\""
                                                                       : QString("\"%1\"").arg(i));
            evalJs(page, "window.throwOn = window.silent = undefined");
        }
        const QString uncaught = "js: Uncaught Error: thrown for " + thrown;
        QTRY_COMPARE(log.lines().filter(QRegularExpression("^\"\\d*\"$|^" + uncaught)).size(),
                     values.size() + 2);
        QStringList logged = log.lines().filter(QRegularExpression("^\"\\d*\"$"));
        QCOMPARE(log.lines().count(uncaught), 2);
        values.sort();
        logged.sort();
        QCOMPARE(logged, values);
    }

    // A page without the function (not defined yet, or never) loses the
    // push quietly: no uncaught error in its console, the push's value line
    // as always, and one debug line per document and function (again in the
    // next document). Alone, in a batch of one turn, or in pieces: the same.
    // The function once defined receives the next push. Each row's function
    // is its own, as the line is once per document.
    void pushToAbsentFunction_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<int>("pushes"); // in one turn of the event loop
        QTest::addColumn<bool>("inPieces");
        QTest::newRow("alone") << "emitDataCacheNotify" << 1 << false;
        QTest::newRow("in one batch") << "emitInfoNotify" << 3 << false;
        QTest::newRow("in pieces") << "emitDevStatus" << 2 << true;
    }

    void pushToAbsentFunction()
    {
        QFETCH(QString, function);
        QFETCH(int, pushes);
        QFETCH(bool, inPieces);
        QWebEnginePage* page = m_first->page();
        const QString absent = "tavi.webmodule: The page has no function " + function
            + ": its pushes are dropped (" + page->url().toDisplayString() + ")";
        const auto push = [&](const QString& text) {
            if (function == "emitDevStatus")
                emit dc()->emitDevStatus(text);
            else if (function == "emitInfoNotify")
                emit dc()->emitInfoNotify(text);
            else
                emit dc()->emitDataCacheNotify("k", text);
        };
        // Takes the page's function away, and gives it back the next time.
        const auto swapFunction = [&] {
            return evalJs(page,
                          QString("var f = window.kept; window.kept = window.%1;"
                                  " window.%1 = f; 'ok'")
                              .arg(function))
                == "ok";
        };
        const QString text = inPieces ? QString(700 * 1024, 'x') : "v";
        // A push's value line: "" for none, the call count from the test page.
        const QRegularExpression value("^\"\\d*\"$");
        for (int round = 0; round < 2; ++round) {
            LogCapture log;
            QVERIFY(swapFunction());
            for (int i = 0; i < pushes; ++i)
                push(text);
            // A call after them, to know when they are through.
            emit dc()->emitServerRespone("after", 0, "x");
            QCOMPARE(pageCalls(page, 1),
                     callsText({ { "emitServerRespone", { "after", "0", "x" } } }));
            // Both pages get every push; only the first lacks the function.
            QTRY_COMPARE(log.debugLines().filter(value).size(), 2 * (pushes + 1));
            QCOMPARE(log.lines().filter("Uncaught"), QStringList());
            QCOMPARE(log.lines().filter("Error"), QStringList());
            QCOMPARE(log.debugLines().count(absent), round == 0 ? 1 : 0);
            clearPageCalls(page);
            QVERIFY(swapFunction());
            LogCapture settled;
            push("back");
            QCOMPARE(pageCalls(page, 1),
                     function == "emitDataCacheNotify"
                         ? callsText({ { function, { "k", "back" } } })
                         : callsText({ { function, { "back" } } }));
            // Both pages' values are in before the next round counts.
            QTRY_COMPARE(settled.debugLines().filter(value).size(), 2);
            clearPageCalls(page);
        }
        QVERIFY(m_first->load());
        LogCapture log;
        QVERIFY(swapFunction());
        push(text);
        QTRY_COMPARE(log.debugLines().count(absent), 1);
        QTRY_COMPARE(log.debugLines().filter(value).size(), 2);
        QVERIFY(swapFunction());
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

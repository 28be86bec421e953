// Host events pushed into real pages: every page function receives exactly
// its arguments, in every open page, whichever thread the host emits on, and
// no text can break the call or run script of its own.

#include "TestSupport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonObject>
#include <QtTest/QTest>
#include <QtWebEngineCore/QWebEnginePage>
#include <QtWidgets/QWidget>
#include <VmsWebWidgets.h>
#include <WebViewDataCenter.h>
#include <memory>
#include <thread>

using namespace TestSupport;

namespace {

// Emits one data-center signal as the host would. args: the signal's
// arguments, ack (for emitServerRespone) as text.
void emitEvent(const QString& signal, const QStringList& args)
{
    WebViewDataCenter* dc = WebViewDataCenter::GetInstance();
    if (signal == QLatin1String("emitInfoNotify"))
        emit dc->emitInfoNotify(args.value(0));
    else if (signal == QLatin1String("emitInfoNotifyEx"))
        emit dc->emitInfoNotifyEx(args.value(0), args.value(1));
    else if (signal == QLatin1String("emitDevStatus"))
        emit dc->emitDevStatus(args.value(0));
    else if (signal == QLatin1String("emitDataCacheNotify"))
        emit dc->emitDataCacheNotify(args.value(0), args.value(1));
    else if (signal == QLatin1String("emitServerRespone"))
        emit dc->emitServerRespone(args.value(0), args.value(1).toInt(), args.value(2));
    else
        qFatal("unknown signal %s", qPrintable(signal));
}

void emitFromHostThread(const QString& signal, const QStringList& args)
{
    std::thread host([&] { emitEvent(signal, args); });
    host.join();
}

struct Call
{
    QString fn;
    QStringList args;
};

QList<Call> callsOf(QWebEnginePage* page)
{
    QList<Call> out;
    for (const QJsonValue& v : pageCalls(page)) {
        Call c;
        c.fn = v[QLatin1String("fn")].toString();
        for (const QJsonValue& a : v[QLatin1String("args")].toArray()) {
            // Every argument must arrive as a JavaScript string.
            if (!a.isString())
                c.args << QStringLiteral("<not a string>");
            else
                c.args << a.toString();
        }
        out << c;
    }
    return out;
}

} // namespace

class TestPageEventPush : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void eachEventReachesBothPages_data();
    void eachEventReachesBothPages();
    void hostileTextsArriveIntact_data();
    void hostileTextsArriveIntact();
    void hostThreadEventsKeepTheirOrder();
    void resultOfThePageFunctionIsLogged();
    void eventsWithoutWidgetAreNotStored();

private:
    QWidget m_parent;
    std::unique_ptr<VmsWebWidgets> m_first;
    std::unique_ptr<VmsWebWidgets> m_second;
    QList<QWebEnginePage*> m_pages;
};

void TestPageEventPush::initTestCase()
{
    m_first = std::make_unique<VmsWebWidgets>(&m_parent);
    m_second = std::make_unique<VmsWebWidgets>(&m_parent);
    QVERIFY(loadBridgePage(*m_first));
    QVERIFY(loadBridgePage(*m_second));
    m_pages = { pageOf(*m_first), pageOf(*m_second) };
}

void TestPageEventPush::init()
{
    for (QWebEnginePage* page : m_pages)
        clearPageCalls(page);
}

void TestPageEventPush::cleanupTestCase()
{
    m_first.reset();
    m_second.reset();
}

void TestPageEventPush::eachEventReachesBothPages_data()
{
    QTest::addColumn<bool>("hostThread");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("fn");
    QTest::addColumn<QStringList>("expected");

    const QString tokenNotice = QStringLiteral("{\n    \"cmd\": \"userToken\",\n    \"data\": {\n  "
                                               "      \"token\": \"tok-1\"\n    }\n}\n");
    const QString devStatus = QStringLiteral(
        "[\n    {\n        \"guid\": \"cam\",\n        \"info\": [\n        ]\n    }\n]\n");

    struct Row
    {
        const char* name;
        QString signal;
        QStringList args;
        QString fn;
        QStringList expected;
    };
    const QList<Row> rows {
        { "server response", "emitServerRespone", { "7", "-1", "ok" }, "emitServerRespone",
            { "7", "-1", "ok" } },
        { "server response, empty texts", "emitServerRespone", { "", "0", "" }, "emitServerRespone",
            { "", "0", "" } },
        { "host response keeps line feed", "emitInfoNotifyEx", { "a\nb", "sn-1" },
            "emitHostResponse", { "a\nb", "sn-1" } },
        { "device status loses line feeds", "emitDevStatus", { devStatus }, "emitDevStatus",
            { QString(devStatus).remove('\n') } },
        { "data cache", "emitDataCacheNotify", { "k", "v" }, "emitDataCacheNotify", { "k", "v" } },
        { "info notice loses line feeds", "emitInfoNotify", { "line1\nline2" }, "emitInfoNotify",
            { "line1line2" } },
        { "info notice keeps CR", "emitInfoNotify", { "a\r\nb" }, "emitInfoNotify", { "a\rb" } },
        { "user token", "emitInfoNotify", { tokenNotice }, "emitUserToken", { "tok-1" } },
        { "user token, not JSON", "emitInfoNotify", { "userToken=abc" }, "emitUserToken", { "" } },
        { "user token, no data", "emitInfoNotify", { "{\"cmd\":\"userToken\"}" }, "emitUserToken",
            { "" } },
        { "user token, no token", "emitInfoNotify", { "{\"cmd\":\"userToken\",\"data\":{}}" },
            "emitUserToken", { "" } },
        { "user token, token not a string", "emitInfoNotify",
            { "{\"cmd\":\"userToken\",\"data\":{\"token\":5}}" }, "emitUserToken", { "" } },
        { "user token, hostile token", "emitInfoNotify",
            { "{\"cmd\":\"userToken\",\"data\":{\"token\":\"a'b\\\\c\\u2028\"}}" }, "emitUserToken",
            { QStringLiteral("a'b\\c\u2028") } },
        { "usertoken is case-sensitive", "emitInfoNotify", { "usertoken" }, "emitInfoNotify",
            { "usertoken" } },
    };
    for (bool hostThread : { false, true }) {
        for (const Row& r : rows) {
            QTest::addRow("%s, %s", hostThread ? "host thread" : "GUI thread", r.name)
                << hostThread << r.signal << r.args << r.fn << r.expected;
        }
    }
}

void TestPageEventPush::eachEventReachesBothPages()
{
    QFETCH(bool, hostThread);
    QFETCH(QString, signal);
    QFETCH(QStringList, args);
    QFETCH(QString, fn);
    QFETCH(QStringList, expected);

    if (hostThread)
        emitFromHostThread(signal, args);
    else
        emitEvent(signal, args);

    for (QWebEnginePage* page : m_pages) {
        QVERIFY(waitForPageCalls(page, 1));
        const QList<Call> calls = callsOf(page);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].fn, fn);
        QCOMPARE(calls[0].args, expected);
    }
}

void TestPageEventPush::hostileTextsArriveIntact_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("single quote") << "it's";
    QTest::newRow("double quote") << "say \"hi\"";
    QTest::newRow("backslashes") << "C:\\dir\\";
    QTest::newRow("escaped quote") << "\\'";
    QTest::newRow("CR") << "a\rb";
    QTest::newRow("LF") << "a\nb";
    QTest::newRow("CRLF and tab") << "a\r\n\tb";
    QTest::newRow("U+2028 U+2029") << QStringLiteral("a\u2028b\u2029c");
    QTest::newRow("NUL and escape") << QString::fromUtf16(u"a\u0000b\u001bc", 5);
    QTest::newRow("C1 control and DEL") << QStringLiteral("a\u0085b\u007f");
    QTest::newRow("emoji") << QStringLiteral("😀 café 报警");
    QTest::newRow("place markers") << "%1 %2 %3";
    QTest::newRow("url-encoded") << "http%3A%2F%2Fhost%2Fa%2F";
    QTest::newRow("injection") << "'); window.injected = 1; ('";
    QTest::newRow("injection with line break") << "'\n); window.injected = 1; //";
    QTest::newRow("template and script tags") << "${window.injected = 1}`</script><b>";
    QTest::newRow("empty") << "";
}

void TestPageEventPush::hostileTextsArriveIntact()
{
    QFETCH(QString, text);
    const QString noLf = QString(text).remove('\n');

    emitEvent("emitServerRespone", { text, "3", text });
    emitEvent("emitInfoNotifyEx", { text, text });
    emitEvent("emitDataCacheNotify", { text, text });
    emitEvent("emitDevStatus", { text });
    emitEvent("emitInfoNotify", { text });

    for (QWebEnginePage* page : m_pages) {
        QVERIFY(waitForPageCalls(page, 5));
        const QList<Call> calls = callsOf(page);
        QCOMPARE(calls.size(), 5);
        QCOMPARE(calls[0].fn, QStringLiteral("emitServerRespone"));
        QCOMPARE(calls[0].args, (QStringList { text, "3", text }));
        QCOMPARE(calls[1].fn, QStringLiteral("emitHostResponse"));
        QCOMPARE(calls[1].args, (QStringList { text, text }));
        QCOMPARE(calls[2].fn, QStringLiteral("emitDataCacheNotify"));
        QCOMPARE(calls[2].args, (QStringList { text, text }));
        QCOMPARE(calls[3].fn, QStringLiteral("emitDevStatus"));
        QCOMPARE(calls[3].args, QStringList { noLf });
        QCOMPARE(calls[4].fn, QStringLiteral("emitInfoNotify"));
        QCOMPARE(calls[4].args, QStringList { noLf });
        QCOMPARE(evalJs(page, "typeof window.injected").toString(), QStringLiteral("undefined"));
    }
}

void TestPageEventPush::hostThreadEventsKeepTheirOrder()
{
    constexpr int count = 200;
    std::thread host([] {
        for (int i = 0; i < count; ++i)
            emit WebViewDataCenter::GetInstance()->emitServerRespone(
                QString::number(i), i, QStringLiteral("body"));
    });
    host.join();

    for (QWebEnginePage* page : m_pages) {
        QVERIFY(waitForPageCalls(page, count));
        const QList<Call> calls = callsOf(page);
        QCOMPARE(calls.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(
                calls[i].args, (QStringList { QString::number(i), QString::number(i), "body" }));
    }
}

void TestPageEventPush::resultOfThePageFunctionIsLogged()
{
    QWebEnginePage* page = m_pages[0];
    evalJs(page, "window.emitDataCacheNotify = function (k, v) { return k + '|' + v; }; true");

    LogCapture log;
    emitEvent("emitDataCacheNotify", { "k", "v\"" });
    // Every page logs the value its function returned; one returns nothing.
    QTRY_COMPARE_WITH_TIMEOUT(log.debugLines().size(), 2, 10000);
    QStringList lines = log.debugLines();
    lines.sort();
    QCOMPARE(lines, (QStringList { "\"\"", "\"k|v\\\"\"" }));

    // Reload restores the recording function for later tests.
    QVERIFY(loadBridgePage(*m_first));
}

void TestPageEventPush::eventsWithoutWidgetAreNotStored()
{
    m_second.reset();
    emitEvent("emitServerRespone", { "only-first", "0", "x" });
    emitFromHostThread("emitDataCacheNotify", { "gone", "x" });

    QVERIFY(waitForPageCalls(m_pages[0], 2));
    QCOMPARE(callsOf(m_pages[0]).size(), 2);

    // A widget created afterwards receives nothing of what came before it.
    m_second = std::make_unique<VmsWebWidgets>(&m_parent);
    QVERIFY(loadBridgePage(*m_second));
    m_pages[1] = pageOf(*m_second);
    emitEvent("emitDataCacheNotify", { "after", "1" });
    QVERIFY(waitForPageCalls(m_pages[1], 1));
    const QList<Call> calls = callsOf(m_pages[1]);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].args, (QStringList { "after", "1" }));
}

QTEST_MAIN(TestPageEventPush)
#include "tst_pageeventpush.moc"

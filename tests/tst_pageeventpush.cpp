// Host events pushed into real pages: every page function receives exactly
// its arguments, in every open page, whichever thread the host emits on, and
// no text can break the call or run script of its own.

#include "TestSupport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
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

// Emits one data-center signal as the host would, from the calling thread.
// args: the signal's arguments, ack (for emitServerRespone) as text.
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

QJsonObject call(const QString& fn, const QStringList& args)
{
    return { { "fn", fn }, { "args", QJsonArray::fromStringList(args) } };
}

// Calls as text, for readable comparisons; every argument must be a string.
QString asText(const QJsonArray& calls)
{
    return QString::fromUtf8(QJsonDocument(calls).toJson(QJsonDocument::Compact));
}

// The calls that page recorded, once it has at least count of them.
QString callsOf(QWebEnginePage* page, int count)
{
    return waitForPageCalls(page, count) ? asText(pageCalls(page)) : QStringLiteral("<too few>");
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

// Each event is emitted twice: on the GUI thread, then on a host thread.
void TestPageEventPush::eachEventReachesBothPages_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("fn");
    QTest::addColumn<QStringList>("expected");
    const auto add = [](const char* name, const QString& signal, const QStringList& args,
                         const QString& fn, const QStringList& expected) {
        QTest::newRow(name) << signal << args << fn << expected;
    };

    const QString devStatus = QStringLiteral(
        "[\n    {\n        \"guid\": \"cam\",\n        \"info\": [\n        ]\n    }\n]\n");
    add("server response", "emitServerRespone", { "7", "-1", "ok" }, "emitServerRespone",
        { "7", "-1", "ok" });
    add("host response keeps line feed", "emitInfoNotifyEx", { "a\nb", "sn-1" }, "emitHostResponse",
        { "a\nb", "sn-1" });
    add("device status loses line feeds", "emitDevStatus", { devStatus }, "emitDevStatus",
        { QString(devStatus).remove('\n') });
    add("data cache", "emitDataCacheNotify", { "k", "v" }, "emitDataCacheNotify", { "k", "v" });
    add("info notice loses line feeds, keeps CR", "emitInfoNotify", { "a\r\nb\nc" },
        "emitInfoNotify", { "a\rbc" });
    add("user token", "emitInfoNotify",
        { "{\n    \"cmd\": \"userToken\",\n    \"data\": {\n        \"token\": \"tok-1\"\n    "
          "}\n}\n" },
        "emitUserToken", { "tok-1" });
    add("user token, not JSON", "emitInfoNotify", { "userToken=abc" }, "emitUserToken", { "" });
    add("user token, no token", "emitInfoNotify", { "{\"cmd\":\"userToken\",\"data\":{}}" },
        "emitUserToken", { "" });
    add("user token, hostile token", "emitInfoNotify",
        { "{\"cmd\":\"userToken\",\"data\":{\"token\":\"a'b\\\\c\\u2028\"}}" }, "emitUserToken",
        { QStringLiteral("a'b\\c\u2028") });
}

void TestPageEventPush::eachEventReachesBothPages()
{
    QFETCH(QString, signal);
    QFETCH(QStringList, args);
    QFETCH(QString, fn);
    QFETCH(QStringList, expected);

    emitEvent(signal, args);
    std::thread([&] { emitEvent(signal, args); }).join();
    for (QWebEnginePage* page : m_pages)
        QCOMPARE(callsOf(page, 2), asText({ call(fn, expected), call(fn, expected) }));
}

void TestPageEventPush::hostileTextsArriveIntact_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("quotes") << "it's \"hi\"";
    QTest::newRow("backslashes") << "C:\\dir\\ \\'";
    QTest::newRow("CR LF tab") << "a\r\n\tb\nc\rd";
    QTest::newRow("U+2028 U+2029") << QStringLiteral("a\u2028b\u2029c");
    QTest::newRow("controls: NUL, ESC, C1, DEL")
        << QString::fromUtf16(u"a\u0000b\u001bc\u0085d\u007f", 8);
    QTest::newRow("emoji") << QStringLiteral("😀 café 报警");
    QTest::newRow("place markers, url-encoded") << "%1 %2 %3 http%3A%2F%2Fhost%2Fa%2F";
    QTest::newRow("injection") << "'); window.injected = 1; ('";
    QTest::newRow("injection with line break") << "'\n); window.injected = 1; //";
    QTest::newRow("template and script tags") << "${window.injected = 1}`</script><b>";
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
    const QString expected = asText({ call("emitServerRespone", { text, "3", text }),
        call("emitHostResponse", { text, text }), call("emitDataCacheNotify", { text, text }),
        call("emitDevStatus", { noLf }), call("emitInfoNotify", { noLf }) });

    for (QWebEnginePage* page : m_pages) {
        QCOMPARE(callsOf(page, 5), expected);
        QCOMPARE(evalJs(page, "typeof window.injected").toString(), QStringLiteral("undefined"));
    }
}

void TestPageEventPush::hostThreadEventsKeepTheirOrder()
{
    constexpr int count = 200;
    std::thread([] {
        for (int i = 0; i < count; ++i)
            emit WebViewDataCenter::GetInstance()->emitServerRespone(
                QString::number(i), i, QStringLiteral("body"));
    }).join();

    QJsonArray expected;
    for (int i = 0; i < count; ++i)
        expected << call("emitServerRespone", { QString::number(i), QString::number(i), "body" });
    for (QWebEnginePage* page : m_pages)
        QCOMPARE(callsOf(page, count), asText(expected));
}

void TestPageEventPush::resultOfThePageFunctionIsLogged()
{
    evalJs(
        m_pages[0], "window.emitDataCacheNotify = function (k, v) { return k + '|' + v; }; true");

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
    std::thread([] { emitEvent("emitDataCacheNotify", { "gone", "x" }); }).join();
    QCOMPARE(callsOf(m_pages[0], 2),
        asText({ call("emitServerRespone", { "only-first", "0", "x" }),
            call("emitDataCacheNotify", { "gone", "x" }) }));

    // A widget created afterwards receives nothing of what came before it.
    m_second = std::make_unique<VmsWebWidgets>(&m_parent);
    QVERIFY(loadBridgePage(*m_second));
    m_pages[1] = pageOf(*m_second);
    emitEvent("emitDataCacheNotify", { "after", "1" });
    QCOMPARE(callsOf(m_pages[1], 1), asText({ call("emitDataCacheNotify", { "after", "1" }) }));
}

QTEST_MAIN(TestPageEventPush)
#include "tst_pageeventpush.moc"

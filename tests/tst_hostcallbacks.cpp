// The host's callbacks into the data center: what each one emits, and the
// device status JSON that the push and the bridge's pull share.

#include "TestSupport.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <WebViewDataCenter.h>
#include <climits>

using namespace TestSupport;

Q_DECLARE_METATYPE(DeviceStatusMap)

namespace {

// A null QByteArray stands for a null C string.
char* cstr(QByteArray& text)
{
    return text.isNull() ? nullptr : text.data();
}

using Channels = QList<std::pair<int, int>>; // channel id, status

// The expected device status text, with devices and channels in the order given.
QString statusJson(const QList<std::pair<QString, Channels>>& devices)
{
    QJsonArray out;
    for (const auto& [guid, channels] : devices) {
        QJsonArray info;
        for (const auto& [id, status] : channels)
            info.append(QJsonObject { { "channelId", id }, { "status", status } });
        out.append(QJsonObject { { "guid", guid }, { "info", info } });
    }
    return QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Indented));
}

} // namespace

class TestHostCallbacks : public QObject
{
    Q_OBJECT
private slots:
    void serverResponse_data();
    void serverResponse();
    void nullCommandRecordIsIgnored();
    void dataCache_data();
    void dataCache();
    void deviceStatusJson_data();
    void deviceStatusJson();
};

void TestHostCallbacks::serverResponse_data()
{
    QTest::addColumn<QByteArray>("sn");
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<int>("ack");
    QTest::addColumn<QString>("expectedSn");
    QTest::addColumn<QString>("expectedMsg");

    QTest::newRow("null sn and msg") << QByteArray() << QByteArray() << 3 << ""
                                     << "";
    QTest::newRow("line breaks leave the body, not the sn")
        << QByteArray("a\tb") << QByteArray("{\r\n    \"a\": 1\n}\t") << -5 << "a\tb"
        << "{    \"a\": 1}";
    QTest::newRow("utf-8 and lowest ack")
        << QByteArray("\xe5\xba\x8f-1") << QByteArray("\xe6\x8a\xa5\xe8\xad\xa6 \xf0\x9f\x98\x80\n")
        << INT_MIN << QStringLiteral("序-1") << QStringLiteral("报警 😀");
}

void TestHostCallbacks::serverResponse()
{
    QFETCH(QByteArray, sn);
    QFETCH(QByteArray, msg);
    QFETCH(int, ack);
    QFETCH(QString, expectedSn);
    QFETCH(QString, expectedMsg);

    __tagKelCommand record {};
    record.sn = cstr(sn);
    record.msg = cstr(msg);
    record.ack = ack;
    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitServerRespone);
    WebViewDataCenter::GetInstance()->FuncResponeCallback(&record);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), expectedSn);
    QCOMPARE(spy[0][1].toInt(), ack);
    QCOMPARE(spy[0][2].toString(), expectedMsg);
}

void TestHostCallbacks::nullCommandRecordIsIgnored()
{
    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitServerRespone);
    LogCapture log;
    WebViewDataCenter::GetInstance()->FuncResponeCallback(nullptr);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(log.debugLines(), QStringList { "tavi.webmodule: FuncResponeCallback: null command record ignored" });
}

void TestHostCallbacks::dataCache_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expectedKey");
    QTest::addColumn<QString>("expectedValue");

    QTest::newRow("nulls") << QByteArray() << QByteArray() << ""
                           << "";
    QTest::newRow("line breaks stay in the key, leave the value")
        << QByteArray("k\tey\n") << QByteArray("v\ta\r\nl") << "k\tey\n"
        << "val";
    QTest::newRow("utf-8") << QByteArray("\xe9\x94\xae") << QByteArray("caf\xc3\xa9")
                           << QStringLiteral("键") << QStringLiteral("café");
}

void TestHostCallbacks::dataCache()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QString, expectedKey);
    QFETCH(QString, expectedValue);

    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitDataCacheNotify);
    WebViewDataCenter::GetInstance()->FuncDataCacheCallback(cstr(key), cstr(value));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), expectedKey);
    QCOMPARE(spy[0][1].toString(), expectedValue);
}

void TestHostCallbacks::deviceStatusJson_data()
{
    QTest::addColumn<DeviceStatusMap>("map");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty map") << DeviceStatusMap() << "[\n]\n";
    DeviceStatusMap noChannels;
    noChannels["cam"];
    QTest::newRow("device without channels")
        << noChannels
        << "[\n    {\n        \"guid\": \"cam\",\n        \"info\": [\n        ]\n    }\n]\n";

    // Inserted in the host's order; reported by id bytes and channel number.
    DeviceStatusMap ordered;
    ordered["a"][1] = 0;
    ordered["B"][10] = 1;
    ordered["B"][2] = 0;
    ordered["A1"][-3] = -7;
    QTest::newRow("id order A1 < B < a, channel 2 before 10, negatives")
        << ordered
        << statusJson({ { "A1", { { -3, -7 } } }, { "B", { { 2, 0 }, { 10, 1 } } },
               { "a", { { 1, 0 } } } });

    DeviceStatusMap utf8;
    utf8["\xe9\x97\xa8-\"1\""][0] = 2;
    QTest::newRow("utf-8 id with quotes")
        << utf8 << statusJson({ { QStringLiteral("门-\"1\""), { { 0, 2 } } } });
}

void TestHostCallbacks::deviceStatusJson()
{
    QFETCH(DeviceStatusMap, map);
    QFETCH(QString, expected);

    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitDevStatus);
    const DeviceStatusMap before = map;
    WebViewDataCenter::GetInstance()->DevStatusUpdate(map);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].toString(), expected);
    QVERIFY(map == before);
}

QTEST_MAIN(TestHostCallbacks)
#include "tst_hostcallbacks.moc"

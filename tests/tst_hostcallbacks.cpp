// The host's callbacks into the data center: what each one emits, and the
// device status JSON that the push and the bridge's pull share.

#include "TestSupport.h"

#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <TaviSim.h>
#include <WebComm.h>
#include <WebViewDataCenter.h>
#include <climits>
#include <cstring>

using namespace TestSupport;

Q_DECLARE_METATYPE(DeviceStatusMap)

namespace {

// A null QByteArray stands for a null C string.
const char* cstr(const QByteArray& text)
{
    return text.isNull() ? nullptr : text.constData();
}

// The map a host inserted in this order; std::map sorts it.
DeviceStatusMap orderedByHost()
{
    DeviceStatusMap map;
    map["a"][1] = 0;
    map["B"][10] = 1;
    map["B"][2] = 0;
    map["A1"][-3] = -7;
    return map;
}

const char* const kOrderedJson = R"([
    {
        "guid": "A1",
        "info": [
            {
                "channelId": -3,
                "status": -7
            }
        ]
    },
    {
        "guid": "B",
        "info": [
            {
                "channelId": 2,
                "status": 0
            },
            {
                "channelId": 10,
                "status": 1
            }
        ]
    },
    {
        "guid": "a",
        "info": [
            {
                "channelId": 1,
                "status": 0
            }
        ]
    }
]
)";

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
    void pullMatchesPush_data();
    void pullMatchesPush();
    void getDeviceStatusReadsTheHost();
};

void TestHostCallbacks::serverResponse_data()
{
    QTest::addColumn<QByteArray>("sn");
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<int>("ack");
    QTest::addColumn<QString>("expectedSn");
    QTest::addColumn<QString>("expectedMsg");

    QTest::newRow("plain") << QByteArray("7") << QByteArray("ok") << 0 << "7"
                           << "ok";
    QTest::newRow("null sn") << QByteArray() << QByteArray("body") << 3 << ""
                             << "body";
    QTest::newRow("null msg") << QByteArray("9") << QByteArray() << -1 << "9"
                              << "";
    QTest::newRow("empty texts") << QByteArray("") << QByteArray("") << 0 << ""
                                 << "";
    QTest::newRow("CR LF and tab removed")
        << QByteArray("12") << QByteArray("one\r\ntwo\tthree") << -5 << "12"
        << "onetwothree";
    QTest::newRow("indented JSON keeps its spaces")
        << QByteArray("s") << QByteArray("{\n    \"a\": 1\n}\n") << 0 << "s"
        << "{    \"a\": 1}";
    QTest::newRow("tab in sn stays") << QByteArray("a\tb") << QByteArray("x") << 0 << "a\tb"
                                     << "x";
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

    __tagKelCommand record;
    std::memset(&record, 0, sizeof(record));
    record.sn = sn.isNull() ? nullptr : sn.data();
    record.msg = msg.isNull() ? nullptr : msg.data();
    record.ack = ack;
    // Bytes the module must not read beside the three fields.
    std::memset(record.reserved0, 'x', sizeof(record.reserved0));

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
    QCOMPARE(log.debugLines(), QStringList { "FuncResponeCallback: null command record ignored" });
}

void TestHostCallbacks::dataCache_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expectedKey");
    QTest::addColumn<QString>("expectedValue");

    QTest::newRow("plain") << QByteArray("alarm.count") << QByteArray("3") << "alarm.count"
                           << "3";
    QTest::newRow("nulls") << QByteArray() << QByteArray() << ""
                           << "";
    QTest::newRow("empties") << QByteArray("") << QByteArray("") << ""
                             << "";
    QTest::newRow("tab stays in key, leaves value")
        << QByteArray("k\tey\n") << QByteArray("v\ta\r\nl") << "k\tey\n"
        << "val";
    QTest::newRow("utf-8") << QByteArray("\xe9\x94\xae") << QByteArray("caf\xc3\xa9") << "键"
                           << "café";
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
    QTest::newRow("device without channels") << noChannels << R"([
    {
        "guid": "cam",
        "info": [
        ]
    }
]
)";
    QTest::newRow("byte order, channel order, negatives")
        << orderedByHost() << QString::fromUtf8(kOrderedJson);

    DeviceStatusMap utf8;
    utf8["\xe9\x97\xa8-\"1\""][0] = 2;
    QTest::newRow("utf-8 id with quotes") << utf8 << QStringLiteral(R"([
    {
        "guid": "门-\"1\"",
        "info": [
            {
                "channelId": 0,
                "status": 2
            }
        ]
    }
]
)");
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

void TestHostCallbacks::pullMatchesPush_data()
{
    QTest::addColumn<DeviceStatusMap>("map");
    QTest::newRow("empty") << DeviceStatusMap();
    DeviceStatusMap noChannels;
    noChannels["cam"];
    QTest::newRow("no channels") << noChannels;
    QTest::newRow("ordered") << orderedByHost();
}

void TestHostCallbacks::pullMatchesPush()
{
    QFETCH(DeviceStatusMap, map);

    TaviSim::setDeviceStatus(map);
    QSignalSpy spy(WebViewDataCenter::GetInstance(), &WebViewDataCenter::emitDevStatus);
    WebViewDataCenter::GetInstance()->DevStatusUpdate(map);
    QCOMPARE(spy.count(), 1);

    CWebComm bridge;
    QCOMPARE(bridge.GetDevStatus(), spy[0][0].toString());
}

void TestHostCallbacks::getDeviceStatusReadsTheHost()
{
    TaviSim::setDeviceStatus(orderedByHost());
    TaviSim::setPendingDeviceIds({ "listed-only" });

    std::list<std::string> ids;
    DeviceStatusMap map;
    QCOMPARE(WebViewDataCenter::GetInstance()->GetDeviceStatus(ids, map), 0);
    QVERIFY(map == orderedByHost());
    QCOMPARE(ids.size(), size_t(4));
    QCOMPARE(ids.back(), std::string("listed-only"));

    // A device the host lists without a status is not reported.
    CWebComm bridge;
    QCOMPARE(bridge.GetDevStatus(), QString::fromUtf8(kOrderedJson));
    TaviSim::setPendingDeviceIds({});
}

QTEST_MAIN(TestHostCallbacks)
#include "tst_hostcallbacks.moc"

// The pushes that wait for a page that does not answer, within its budget:
// states give way to their newest, messages over it are dropped.

#include <JsScript.h>
#include <PushBacklog.h>
#include <QtTest/QTest>

using namespace TaviWebModuleInternal;

namespace {

// "fn a b" -> the item of the call fn('a', 'b').
PushItem item(const QString& call)
{
    const QStringList parts = call.split(QLatin1Char(' '));
    static QList<QByteArray> names; // QLatin1String keeps no copy
    names.append(parts.first().toLatin1());
    PushItem pushed;
    pushed.function = QLatin1String(names.constLast());
    switch (parts.size()) {
    case 2:
        pushed.arguments = jsArguments({ parts.at(1) });
        break;
    default:
        pushed.arguments = jsArguments({ parts.at(1), parts.at(2) });
        break;
    }
    return pushed;
}

// What waits, "*" for the full status due.
QString waiting(PushBacklog backlog)
{
    QStringList calls;
    while (!backlog.empty()) {
        const PushItem front = backlog.takeFront();
        calls << (front.fullStatus ? QStringLiteral("*")
                                   : jsCall({ front.function, front.arguments }));
    }
    return calls.join(QLatin1Char(' '));
}

} // namespace

class TestPushBacklog : public QObject
{
    Q_OBJECT
private slots:
    // Pushes added in order to a budget of room items of the first one's size.
    void add_data()
    {
        QTest::addColumn<int>("room");
        QTest::addColumn<QStringList>("pushes");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("replaced");
        QTest::addColumn<int>("dropped");
        QTest::newRow("within the budget: all, in order")
            << 3 << QStringList { "emitDevStatus a", "emitInfoNotify b", "emitDevStatus c" }
            << "emitDevStatus('a') emitInfoNotify('b') emitDevStatus('c')" << 0 << 0;
        QTest::newRow("device statuses over it: one full status at the end")
            << 2
            << QStringList { "emitDevStatus a", "emitInfoNotify b", "emitDevStatus c",
                             "emitDevStatus d" }
            << "emitInfoNotify('b') *" << 3 << 0;
        QTest::newRow("a full status waiting covers the statuses after it")
            << 1 << QStringList { "emitDevStatus a", "emitDevStatus b", "emitDevStatus c" } << "*"
            << 3 << 0;
        QTest::newRow("data cache over it: the newest of each key")
            << 2
            << QStringList { "emitDataCacheNotify k 1", "emitDataCacheNotify j 1",
                             "emitDataCacheNotify k 2" }
            << "emitDataCacheNotify('j', '1') emitDataCacheNotify('k', '2')" << 1 << 0;
        QTest::newRow("keys that only share a beginning are apart")
            << 1 << QStringList { "emitDataCacheNotify kk 1", "emitDataCacheNotify k 12" }
            << "emitDataCacheNotify('kk', '1') emitDataCacheNotify('k', '12')" << 0 << 0;
        QTest::newRow("messages over it are dropped")
            << 2
            << QStringList { "emitServerRespone a", "emitHostResponse b", "emitInfoNotify c",
                             "emitServerRespone d" }
            << "emitServerRespone('a') emitHostResponse('b')" << 0 << 2;
        QTest::newRow("a new state takes the oldest message's room")
            << 2 << QStringList { "emitServerRespone a", "emitInfoNotify b", "emitUserToken t" }
            << "emitInfoNotify('b') emitUserToken('t')" << 0 << 1;
        QTest::newRow("a token gives way to the newest")
            << 1 << QStringList { "emitUserToken t", "emitUserToken u" } << "emitUserToken('u')"
            << 1 << 0;
    }
    void add()
    {
        QFETCH(int, room);
        QFETCH(QStringList, pushes);
        QFETCH(QString, expected);
        QFETCH(int, replaced);
        QFETCH(int, dropped);
        PushBacklog backlog;
        backlog.setBudget(room * item(pushes.first()).bytes());
        for (const QString& push : std::as_const(pushes))
            backlog.add(item(push));
        QCOMPARE(waiting(backlog), expected);
        QCOMPARE(backlog.replaced(), quint64(replaced));
        QCOMPARE(backlog.dropped(), quint64(dropped));
        while (!backlog.empty())
            backlog.popFront();
        QCOMPARE(backlog.bytes(), 0);
    }

    // For a page that keeps up, the budget is not enforced; what was begun
    // stays when it is.
    void begunAndNotEnforced()
    {
        PushBacklog backlog;
        backlog.setBudget(item("emitDevStatus x").bytes());
        QCOMPARE(backlog.add(item("emitDevStatus longer"), false), PushBacklog::Queued);
        QCOMPARE(backlog.add(item("emitServerRespone b"), false), PushBacklog::Queued);
        QCOMPARE(backlog.takeFront().function, QLatin1String("emitDevStatus"));
        QCOMPARE(backlog.add(item("emitDevStatus longer"), false), PushBacklog::Queued);
        backlog.takeFront();
        backlog.front().from = 1;
        QCOMPARE(backlog.add(item("emitDevStatus b")), PushBacklog::Replaced);
        QCOMPARE(waiting(backlog), "emitDevStatus('longer') *");
    }
};

QTEST_GUILESS_MAIN(TestPushBacklog)
#include "tst_pushbacklog.moc"

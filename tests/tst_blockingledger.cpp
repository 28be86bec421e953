// A page's budget of holding the host's window, on a simulated clock: a
// page that loops blocking calls or dialogs stays within it over long runs.

#include <BlockingLedger.h>
#include <QtTest/QTest>
#include <algorithm>
#include <numeric>
#include <vector>

using TaviWebModuleInternal::BlockingLedger;
using TaviWebModuleInternal::BlockingLimits;
using Turn = BlockingLedger::DialogTurn;

namespace {

struct Span
{
    qint64 from, to;
};

// Of spans in order, the time held before each millisecond, counted apart
// from the ledger.
std::vector<qint64> heldBefore(const std::vector<Span>& spans)
{
    std::vector<qint64> before(size_t(spans.empty() ? 1 : spans.back().to + 1), 0);
    for (const Span& s : spans)
        std::fill(before.begin() + s.from + 1, before.begin() + s.to + 1, 1);
    std::partial_sum(before.begin(), before.end(), before.begin());
    return before;
}

constexpr qint64 kRunMs = 120000;
constexpr qint64 kRefusedMs = 1; // what a call answered at once takes

} // namespace

class TestBlockingLedger : public QObject
{
    Q_OBJECT

private slots:
    // A page calls again as soon as each call returns, its host never
    // answering (each call waits all it may), or reopens its dialog as soon
    // as the operator closes it (after holdMs). However long the run, no
    // window holds more than the budget (dialogs: plus the operator's first
    // and the one open when it ran out), and the page gets most of it.
    void loopStaysWithinTheBudget_data()
    {
        QTest::addColumn<bool>("dialog");
        QTest::addColumn<int>("budgetMs");
        QTest::addColumn<int>("windowMs");
        QTest::addColumn<int>("holdMs"); // a call's time-out, a dialog's time up
        QTest::newRow("calls, waits of the notify limit") << false << 5000 << 10000 << 5000;
        QTest::newRow("calls, the page's 300 ms") << false << 5000 << 10000 << 300;
        QTest::newRow("calls, small budget, long waits") << false << 400 << 4000 << 60000;
        QTest::newRow("calls, budget 0: every one refused") << false << 0 << 10000 << 300;
        QTest::newRow("dialogs closed at once") << true << 5000 << 10000 << 10;
        QTest::newRow("dialogs closed after a second") << true << 5000 << 10000 << 1000;
    }

    void loopStaysWithinTheBudget()
    {
        QFETCH(bool, dialog);
        QFETCH(int, budgetMs);
        QFETCH(int, windowMs);
        QFETCH(int, holdMs);
        const BlockingLimits limits { budgetMs, windowMs };
        BlockingLedger ledger;
        std::vector<Span> held;
        int refused = 0;
        for (qint64 now = 0; now < kRunMs;) {
            qint64 end = 0;
            if (!dialog) {
                if (const std::optional<qint64> allowance
                    = ledger.callAllowance(now, limits, holdMs)) {
                    // A call without a wait still takes the host's handler's time.
                    end = now + qMax<qint64>(1, qMin<qint64>(holdMs, *allowance));
                    ledger.callEnded(now, end);
                }
            } else if (const Turn turn = ledger.dialogOpened(now, limits); turn != Turn::Refused) {
                end = now + holdMs;
                ledger.dialogEnded(turn, now, end);
            }
            if (end)
                held.push_back({ now, end });
            else
                ++refused;
            now = end ? end : now + kRefusedMs;
        }
        const std::vector<qint64> before = heldBefore(held);
        qint64 most = 0;
        for (size_t end = 0; end < before.size(); ++end)
            most = qMax(most, before[end] - before[end < size_t(windowMs) ? 0 : end - windowMs]);
        QVERIFY(most <= budgetMs + (dialog ? 2 * holdMs : 0));
        QVERIFY(refused > 0);
        // Not starved: at least four fifths of the budget of each window.
        const qint64 total = before.back();
        QVERIFY(total * windowMs >= budgetMs * kRunMs * 4 / 5);
    }

    // The operator's first dialog, however long, takes nothing; those that
    // follow count, and over the budget dialogs and calls are refused. A
    // window without dialogs makes the next the operator's again.
    void dialogs()
    {
        const BlockingLimits limits { 5000, 10000 };
        BlockingLedger ledger;
        QCOMPARE(ledger.dialogOpened(0, limits), Turn::Free);
        ledger.dialogEnded(Turn::Free, 0, 8000);
        QCOMPARE(ledger.callAllowance(8000, limits, 5000).value_or(-1), qint64(5000));
        QCOMPARE(ledger.dialogOpened(8000, limits), Turn::Counted);
        ledger.dialogEnded(Turn::Counted, 8000, 13000);
        QCOMPARE(ledger.dialogOpened(13000, limits), Turn::Refused);
        ledger.dialogEnded(Turn::Refused, 13000, 13000);
        QVERIFY(!ledger.callAllowance(13000, limits, 300));
        QCOMPARE(ledger.dialogOpened(18001, limits), Turn::Counted);
        ledger.dialogEnded(Turn::Counted, 18001, 18002);
        QCOMPARE(ledger.dialogOpened(28002, limits), Turn::Free);
    }
};

QTEST_GUILESS_MAIN(TestBlockingLedger)
#include "tst_blockingledger.moc"

#pragma once

// Internal to the module: how long one page has held the host's window, and
// what it may hold next. A page holds the window while the GUI thread waits
// in one of its blocking calls (NotifyToHostSync, RequestToVmsServerSync) and
// while one of its modal dialogs is open. Within any window of windowMs it
// may hold at most budgetMs:
// - a blocking call is answered at once, untried, when less than its share
//   is left (its time-out, at most a tenth of the budget); otherwise its
//   time-out is cut to what is left;
// - a dialog opens while anything is left; the first dialog after windowMs
//   without one is the operator's own and does not count (a page that opens
//   one file dialog, then asks the host, keeps working however long the
//   operator took to choose); every further one counts. A dialog cannot be
//   cut short, so the last one may outlast the budget by its own length.
// Holds less than kJoinMs apart count as one: a page that calls again at
// once holds the window in between too.
// Pure arithmetic on a monotonic clock the caller reads, in ms: testable
// without a page. One page's calls run on the GUI thread, so no lock.

#include <QtCore/QtGlobal>
#include <deque>
#include <limits>
#include <optional>

namespace TaviWebModuleInternal {

struct BlockingLimits
{
    int budgetMs = 5000;
    int windowMs = 10000;
    // A budget as long as its window leaves the page unlimited.
    bool unlimited() const { return budgetMs >= windowMs; }
};

class BlockingLedger
{
public:
    // Holds closer than this to each other count as one, the gap included.
    static constexpr qint64 kJoinMs = 20;
    // No cut: what an unlimited page may wait.
    static constexpr qint64 kNoCut = std::numeric_limits<qint64>::max();

    // Held in the window of limits that ends at now.
    qint64 held(qint64 now, const BlockingLimits& limits);
    // What a blocking call with timeout that starts at now may wait, in ms:
    // nullopt when it is to be answered at once; kNoCut when unlimited.
    std::optional<qint64> callAllowance(qint64 now, const BlockingLimits& limits, int timeout);
    // A blocking call admitted above ran from..to.
    void callEnded(qint64 from, qint64 to);

    enum class DialogTurn { Free, Counted, Refused };
    // Whether a dialog may open at now; an admitted one is open until
    // dialogEnded() with the same turn.
    DialogTurn dialogOpened(qint64 now, const BlockingLimits& limits);
    void dialogEnded(DialogTurn turn, qint64 from, qint64 to);

private:
    void add(qint64 from, qint64 to);
    void prune(qint64 windowStart);

    struct Span
    {
        qint64 from;
        qint64 to;
    };
    std::deque<Span> m_spans; // sorted, disjoint
    qint64 m_total = 0; // of m_spans
    std::optional<qint64> m_lastDialogEnd;
    int m_openDialogs = 0;
};

} // namespace TaviWebModuleInternal

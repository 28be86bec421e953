#include "BlockingLedger.h"

#include <algorithm>

namespace TaviWebModuleInternal {

qint64 BlockingLedger::held(qint64 now, const BlockingLimits& limits)
{
    const qint64 windowStart = now - qMax(1, limits.windowMs);
    prune(windowStart);
    // Only the oldest span can begin before the window.
    if (m_spans.empty())
        return 0;
    return m_total - qMax<qint64>(0, windowStart - m_spans.front().from);
}

std::optional<qint64> BlockingLedger::callAllowance(qint64 now, const BlockingLimits& limits,
                                                    int timeout)
{
    if (limits.unlimited())
        return kNoCut;
    const qint64 left = qMax(0, limits.budgetMs) - held(now, limits);
    // A call that could wait only a sliver of its time-out would flood the
    // host with calls bound to time out; it waits for a share instead.
    const qint64 share = std::clamp<qint64>(timeout, 1, qMax(1, limits.budgetMs / 10));
    if (left < share)
        return std::nullopt;
    return left;
}

void BlockingLedger::callEnded(qint64 from, qint64 to)
{
    add(from, to);
}

BlockingLedger::DialogTurn BlockingLedger::dialogOpened(qint64 now, const BlockingLimits& limits)
{
    DialogTurn turn = DialogTurn::Counted;
    if (m_openDialogs == 0
        && (!m_lastDialogEnd || *m_lastDialogEnd <= now - qMax(1, limits.windowMs)))
        turn = DialogTurn::Free;
    else if (!limits.unlimited() && held(now, limits) >= qMax(0, limits.budgetMs))
        return DialogTurn::Refused;
    ++m_openDialogs;
    return turn;
}

void BlockingLedger::dialogEnded(DialogTurn turn, qint64 from, qint64 to)
{
    if (turn == DialogTurn::Refused)
        return;
    m_openDialogs = qMax(0, m_openDialogs - 1);
    m_lastDialogEnd = to;
    if (turn == DialogTurn::Counted)
        add(from, to);
}

void BlockingLedger::add(qint64 from, qint64 to)
{
    if (to <= from)
        return;
    // A span that ends after later ones began (a dialog nested in another's
    // event loop, say) is merged with them: the window was held once. So is
    // one that follows the last within kJoinMs, the gap counted: between a
    // page's call and its next one the window cannot be used either.
    while (!m_spans.empty() && m_spans.back().to + kJoinMs >= from) {
        from = qMin(from, m_spans.back().from);
        to = qMax(to, m_spans.back().to);
        m_total -= m_spans.back().to - m_spans.back().from;
        m_spans.pop_back();
    }
    m_spans.push_back({ from, to });
    m_total += to - from;
}

void BlockingLedger::prune(qint64 windowStart)
{
    while (!m_spans.empty() && m_spans.front().to <= windowStart) {
        m_total -= m_spans.front().to - m_spans.front().from;
        m_spans.pop_front();
    }
}

} // namespace TaviWebModuleInternal
